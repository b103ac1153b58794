#pragma once
// Plain types the host passes through its interfaces.

#include <cstdint>

// The host's data types. The values are fixed by the host (they index its type tables and build
// its type masks), so the enumerators must never be renumbered.
enum ICU_Type : int {
    ICU_NONE = 0,  // "no type": item type of scalars
    ICU_BOOLEAN = 1,
    ICU_BYTE = 2,
    ICU_SHORT = 3,
    ICU_INT = 4,
    ICU_UNSIGNED_BYTE = 5,
    ICU_UNSIGNED_SHORT = 6,
    ICU_UNSIGNED_INT = 7,
    ICU_FLOAT = 8,
    ICU_DOUBLE = 9,
    ICU_STRING = 10,
    ICU_BINARY = 11,
    ICU_TIME = 12,
    ICU_BOOLEAN_ARRAY = 13,
    ICU_BYTE_ARRAY = 14,
    ICU_SHORT_ARRAY = 15,
    ICU_INT_ARRAY = 16,
    ICU_UNSIGNED_BYTE_ARRAY = 17,
    ICU_UNSIGNED_SHORT_ARRAY = 18,
    ICU_UNSIGNED_INT_ARRAY = 19,
    ICU_FLOAT_ARRAY = 20,
    ICU_DOUBLE_ARRAY = 21,
    ICU_TIME_ARRAY = 22,
    ICU_UINT64 = 23,
    ICU_INT64 = 24,
    ICU_UINT64_ARRAY = 25,
    ICU_INT64_ARRAY = 26,
    ICU_OBJECT = 27,
};

// Per-item status of datagram reads and writes; the library only ever reports IDAL_READ.
enum idal_error_t : int {
    IDAL_NONE = 0,
    IDAL_READ = 1,
};

// Host objects the protocol interface only passes through.
class IMultiRead;
class IMultiWrite;
class IObjectString;
class IEventProcessor;
class IEventChannel;
class IAlarm;
class IAlarmProcessor;
class ITrend;
class ITrendProcessor;
