#pragma once
// The host's data types in the host's order, with their names in data-type strings, element
// types, fixed lengths and type-mask flags. The one table that the plug-in and every tool use.

#include "HostTypes.h"

struct HostDataType {
    const char* name;  // as written in data-type strings; a trailing '-' marks an array
    ICU_Type type;
    ICU_Type itemType;  // element type of arrays and strings, ICU_NONE otherwise
    int length;         // fixed length in bytes, 0 for arrays, strings and object
    int flag;           // the type's bit in type masks: always 1 << (type - 1)
};

constexpr int HostDataTypeCount = 27;

inline constexpr HostDataType HostDataTypes[HostDataTypeCount] = {
    {"boolean", ICU_BOOLEAN, ICU_NONE, 1, 0x1},
    {"byte", ICU_BYTE, ICU_NONE, 1, 0x2},
    {"short", ICU_SHORT, ICU_NONE, 2, 0x4},
    {"int", ICU_INT, ICU_NONE, 4, 0x8},
    {"unsignedByte", ICU_UNSIGNED_BYTE, ICU_NONE, 1, 0x10},
    {"unsignedShort", ICU_UNSIGNED_SHORT, ICU_NONE, 2, 0x20},
    {"unsignedInt", ICU_UNSIGNED_INT, ICU_NONE, 4, 0x40},
    {"float", ICU_FLOAT, ICU_NONE, 4, 0x80},
    {"double", ICU_DOUBLE, ICU_NONE, 8, 0x100},
    {"string-", ICU_STRING, ICU_BYTE, 0, 0x200},
    {"binary-", ICU_BINARY, ICU_UNSIGNED_BYTE, 0, 0x400},
    {"time", ICU_TIME, ICU_NONE, 10, 0x800},
    {"boolean-", ICU_BOOLEAN_ARRAY, ICU_BOOLEAN, 0, 0x1000},
    {"byte-", ICU_BYTE_ARRAY, ICU_BYTE, 0, 0x2000},
    {"short-", ICU_SHORT_ARRAY, ICU_SHORT, 0, 0x4000},
    {"int-", ICU_INT_ARRAY, ICU_INT, 0, 0x8000},
    {"unsignedByte-", ICU_UNSIGNED_BYTE_ARRAY, ICU_UNSIGNED_BYTE, 0, 0x10000},
    {"unsignedShort-", ICU_UNSIGNED_SHORT_ARRAY, ICU_UNSIGNED_SHORT, 0, 0x20000},
    {"unsignedInt-", ICU_UNSIGNED_INT_ARRAY, ICU_UNSIGNED_INT, 0, 0x40000},
    {"float-", ICU_FLOAT_ARRAY, ICU_FLOAT, 0, 0x80000},
    {"double-", ICU_DOUBLE_ARRAY, ICU_DOUBLE, 0, 0x100000},
    {"time-", ICU_TIME_ARRAY, ICU_TIME, 0, 0x200000},
    {"uint64", ICU_UINT64, ICU_NONE, 8, 0x400000},
    {"int64", ICU_INT64, ICU_NONE, 8, 0x800000},
    {"uint64-", ICU_UINT64_ARRAY, ICU_UINT64, 0, 0x1000000},
    {"int64-", ICU_INT64_ARRAY, ICU_INT64, 0, 0x2000000},
    {"object", ICU_OBJECT, ICU_NONE, 0, 0x4000000},
};
