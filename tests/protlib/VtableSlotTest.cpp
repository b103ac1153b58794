// The host calls protocols and tags by virtual slot. These tests call every slot through the raw
// virtual table (Itanium C++ ABI, as GCC uses it on x86-64 Linux and on ARM EABI: the table
// pointer heads the object, a virtual destructor takes two entries) and check which operation
// answers, against the binding order written out below.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <type_traits>

#include "TestDriver.h"

namespace {

using AnyFn = void (*)();  // the generic function pointer type: casts to and from it are clean

AnyFn slotOf(const void* object, int index) {
    const AnyFn* table = nullptr;
    std::memcpy(&table, object, sizeof table);
    return table[index];
}

template <typename T>
T argOf() {
    if constexpr (std::is_same_v<T, uint64_t*>) {
        static uint64_t next = 0;  // stands for a uint64_t& parameter
        return &next;
    } else {
        return T{};
    }
}

// Calls slot `index` of `object` as an operation returning R and taking A... after `this`.
template <typename R, typename... A>
R callSlot(void* object, int index) {
    using Fn = R (*)(void*, A...);
    return reinterpret_cast<Fn>(slotOf(object, index))(object, argOf<A>()...);
}

template <typename R, typename... A>
R callWith(void* object, int index, A... args) {
    using Fn = R (*)(void*, A...);
    return reinterpret_cast<Fn>(slotOf(object, index))(object, args...);
}

struct Slot {
    int index;
    const char* name;
    void (*call)(void* object, int index);
};

template <typename R, typename... A>
void callIgnoringResult(void* object, int index) {
    callSlot<R, A...>(object, index);
}

#define SLOT(index, name, ...)                        \
    Slot {                                            \
        index, name, &callIgnoringResult<__VA_ARGS__> \
    }

using Tag = const ITag*;
using Tags = const ITag* const*;
using Bytes = uint8_t*;
using CBytes = const uint8_t*;
using Status = idal_error_t*;
using U64 = uint64_t;
using U64Ref = uint64_t*;  // a reference travels as a pointer

// Binding order of the protocol interface after the two destructor entries.
const Slot ProtocolSlots[] = {
    SLOT(2, "ConvertTo", void*, const char*),
    SLOT(3, "GetImpName", const char*),
    SLOT(4, "GetImpVersion", int),
    SLOT(5, "Config", bool, const char*),
    SLOT(6, "CreateTag", ITag*, const char*),
    SLOT(7, "FreeTag", void, ITag*),
    SLOT(8, "CanBeOptimized", bool, Tag, Tag, bool),
    SLOT(9, "Start", bool),
    SLOT(10, "Stop", bool),
    SLOT(11, "Read", bool, Tag, Bytes),
    SLOT(12, "Write", bool, Tag, CBytes),
    SLOT(13, "ReadBlock", bool, Tag, Bytes, int),
    SLOT(14, "WriteBlock", bool, Tag, CBytes, int),
    SLOT(15, "MaxDatagramItems", int, Tag),
    SLOT(16, "MaxDatagramLength", int, Tag),
    SLOT(17, "CanCoexistInDatagram", bool, Tag, Tag),
    SLOT(18, "ReadDatagram", bool, Tags, int, Bytes),
    SLOT(19, "GetName", const char*),
    SLOT(20, "GetNextInstanceName", const char*),
    SLOT(21, "GetLastError", int),
    SLOT(22, "GetLastErrorString", const char*),
    SLOT(23, "GetProtocolVersion", int),
    SLOT(24, "GetProtocolType", int),
    SLOT(25, "GetProtocolName", const char*),
    SLOT(26, "GetInfo", int, char*, int),
    SLOT(27, "GetXml", const char*),
    SLOT(28, "IsConverted", bool),
    SLOT(29, "GetIdent", const char*),
    SLOT(30, "SetIdent", void, const char*),
    SLOT(31, "DoCommand", int, const char*, char*, int),
    SLOT(32, "Extend", int, int, void*),
    SLOT(33, "CanAddToDatagram", bool, Tags, int, Tag),
    SLOT(34, "ReadDatagramWithStatus", bool, Tags, int, Bytes, Status),
    SLOT(35, "MultipleReadSupported", bool),
    SLOT(36, "MultipleRead", bool, IMultiRead*),
    SLOT(37, "MultipleWriteSupported", bool),
    SLOT(38, "MultipleWrite", bool, IMultiWrite*),
    SLOT(39, "GetNodeID", int, Tag),
    SLOT(40, "CanReadBitBlock", bool, Tag),
    SLOT(41, "ReadBitBlock", bool, Tag, Bytes, int),
    SLOT(42, "GetInterface", void*, const char*),
    SLOT(43, "MaxUnusedGap", int, Tag),
    SLOT(44, "IsBefore", bool, Tag, Tag),
    SLOT(45, "IsAdjacent", bool, Tag, Tag),
    SLOT(46, "NeedsReadBeforeWrite", bool, Tag),
    SLOT(47, "CanWriteDatagrams", bool, Tag),
    SLOT(48, "CanAddToWriteDatagram", bool, Tags, int, Tag),
    SLOT(49, "WriteDatagramWithStatus", bool, Tags, int, CBytes, Status),
    SLOT(50, "CanWriteBitBlock", bool, Tag),
    SLOT(51, "WriteBitBlock", bool, Tag, CBytes, int),
    SLOT(52, "readObject", bool, Tag, IObjectString*),
    SLOT(53, "writeObject", bool, Tag, const IObjectString*),
    SLOT(54, "vcsGetCapability", int),
    SLOT(55, "vcsGetComParams", int, char*, int),
    SLOT(56, "vcsActivateInterleaved", int, unsigned short),
    SLOT(57, "createEventChannel(int)", IEventChannel*, int),
    SLOT(58, "createEventChannel(IEventProcessor*)", IEventChannel*, IEventProcessor*),
    SLOT(59, "deleteEventChannel", void, IEventChannel*),
    SLOT(60, "addEventSource", bool, IEventChannel*, const char*),
    SLOT(61, "addAlarmEvents", bool, IEventChannel*, IAlarm*),
    SLOT(62, "frontEvent", void*, IEventChannel*),
    SLOT(63, "popEvent", void, IEventChannel*),
    SLOT(64, "createAlarm", IAlarm*, const char*),
    SLOT(65, "deleteAlarm", void, IAlarm*),
    SLOT(66, "listAlarms", int, IAlarmProcessor*),
    SLOT(67, "quitAlarm", int, IAlarm*),
    SLOT(68, "createTrend", ITrend*, const char*),
    SLOT(69, "deleteTrend", void, ITrend*),
    SLOT(70, "readTrend", int, ITrend*, U64, U64, U64Ref, unsigned int, bool, ITrendProcessor*),
    SLOT(71, "hasPlcTimestamp", bool, Tag),
    SLOT(72, "readWithTimestamp", bool, Tag, Bytes, U64*),
    SLOT(73, "readBlockWithTimestamp", bool, Tag, Bytes, int, U64*),
    SLOT(74, "readDatagramWithTimestamp", bool, Tags, int, Bytes, Status, U64*),
    SLOT(75, "getTagUriFieldCount", int),
    SLOT(76, "getTagUriFieldName", const char*, int),
    SLOT(77, "getTagUriFieldPosition", int, const char*),
    SLOT(78, "getTagUriField", const char*, Tag, int, int*),
    SLOT(79, "readArrayItem", bool, Tag, int, Bytes),
    SLOT(80, "writeArrayItem", bool, Tag, int, CBytes),
    SLOT(81, "readBitBlockWithTimestamp", bool, Tag, Bytes, int, U64*),
    SLOT(82, "CreateTagBase", TagBase*, const char*),
    SLOT(83, "GetMaxTm", int, Tag),
    SLOT(84, "tagUriNames", const char* const*),
};

// Binding order of the tag interface and TagBase's own two after the destructor entries.
const Slot TagSlots[] = {
    SLOT(2, "Clone", ITag*),
    SLOT(3, "GetByteOffset", int),
    SLOT(4, "GetBitIndex", int),
    SLOT(5, "GetVarName", const char*),
    SLOT(6, "GetVarType", ICU_Type),
    SLOT(7, "GetVarLength", int),
    SLOT(8, "GetItemType", ICU_Type),
    SLOT(9, "PackedLen", int),
    SLOT(10, "ConvertVariable", bool, CBytes, Bytes, bool),
    SLOT(11, "IsReadOnly", bool),
    SLOT(12, "IsWriteOnly", bool),
    SLOT(13, "Convert", bool, CBytes, Bytes, bool),
    SLOT(14, "DoConversion", bool, Bytes, const char*, bool),
};

// Every override records its own name; nothing else happens.
const char* lastCall = nullptr;
template <typename T>
using Ret = T;
#define RECORD(ret, fn, params, label) \
    ret fn params override {           \
        lastCall = label;              \
        return Ret<ret>();             \
    }

class RecordingProtocol : public ProtocolBase {
  public:
    ~RecordingProtocol() override { lastCall = "~"; }
    RECORD(void*, ConvertTo, (const char*), "ConvertTo")
    RECORD(const char*, GetImpName, () const, "GetImpName")
    RECORD(int, GetImpVersion, () const, "GetImpVersion")
    RECORD(bool, Config, (const char*), "Config")
    RECORD(ITag*, CreateTag, (const char*), "CreateTag")
    RECORD(void, FreeTag, (ITag*), "FreeTag")
    RECORD(bool, CanBeOptimized, (Tag, Tag, bool) const, "CanBeOptimized")
    RECORD(bool, Start, (), "Start")
    RECORD(bool, Stop, (), "Stop")
    RECORD(bool, Read, (Tag, Bytes), "Read")
    RECORD(bool, Write, (Tag, CBytes), "Write")
    RECORD(bool, ReadBlock, (Tag, Bytes, int), "ReadBlock")
    RECORD(bool, WriteBlock, (Tag, CBytes, int), "WriteBlock")
    RECORD(int, MaxDatagramItems, (Tag) const, "MaxDatagramItems")
    RECORD(int, MaxDatagramLength, (Tag) const, "MaxDatagramLength")
    RECORD(bool, CanCoexistInDatagram, (Tag, Tag) const, "CanCoexistInDatagram")
    RECORD(bool, ReadDatagram, (Tags, int, Bytes), "ReadDatagram")
    RECORD(const char*, GetName, () const, "GetName")
    RECORD(const char*, GetNextInstanceName, () const, "GetNextInstanceName")
    RECORD(int, GetLastError, () const, "GetLastError")
    RECORD(const char*, GetLastErrorString, () const, "GetLastErrorString")
    RECORD(int, GetProtocolVersion, () const, "GetProtocolVersion")
    RECORD(int, GetProtocolType, () const, "GetProtocolType")
    RECORD(const char*, GetProtocolName, () const, "GetProtocolName")
    RECORD(int, GetInfo, (char*, int) const, "GetInfo")
    RECORD(const char*, GetXml, () const, "GetXml")
    RECORD(bool, IsConverted, () const, "IsConverted")
    RECORD(const char*, GetIdent, () const, "GetIdent")
    RECORD(void, SetIdent, (const char*), "SetIdent")
    RECORD(int, DoCommand, (const char*, char*, int), "DoCommand")
    RECORD(int, Extend, (int, void*), "Extend")
    RECORD(bool, CanAddToDatagram, (Tags, int, Tag), "CanAddToDatagram")
    RECORD(bool, ReadDatagramWithStatus, (Tags, int, Bytes, Status), "ReadDatagramWithStatus")
    RECORD(bool, MultipleReadSupported, () const, "MultipleReadSupported")
    RECORD(bool, MultipleRead, (IMultiRead*), "MultipleRead")
    RECORD(bool, MultipleWriteSupported, () const, "MultipleWriteSupported")
    RECORD(bool, MultipleWrite, (IMultiWrite*), "MultipleWrite")
    RECORD(int, GetNodeID, (Tag) const, "GetNodeID")
    RECORD(bool, CanReadBitBlock, (Tag) const, "CanReadBitBlock")
    RECORD(bool, ReadBitBlock, (Tag, Bytes, int), "ReadBitBlock")
    RECORD(void*, GetInterface, (const char*), "GetInterface")
    RECORD(int, MaxUnusedGap, (Tag) const, "MaxUnusedGap")
    RECORD(bool, IsBefore, (Tag, Tag) const, "IsBefore")
    RECORD(bool, IsAdjacent, (Tag, Tag) const, "IsAdjacent")
    RECORD(bool, NeedsReadBeforeWrite, (Tag) const, "NeedsReadBeforeWrite")
    RECORD(bool, CanWriteDatagrams, (Tag) const, "CanWriteDatagrams")
    RECORD(bool, CanAddToWriteDatagram, (Tags, int, Tag) const, "CanAddToWriteDatagram")
    RECORD(bool, WriteDatagramWithStatus, (Tags, int, CBytes, Status), "WriteDatagramWithStatus")
    RECORD(bool, CanWriteBitBlock, (Tag) const, "CanWriteBitBlock")
    RECORD(bool, WriteBitBlock, (Tag, CBytes, int), "WriteBitBlock")
    RECORD(bool, readObject, (Tag, IObjectString*), "readObject")
    RECORD(bool, writeObject, (Tag, const IObjectString*), "writeObject")
    RECORD(int, vcsGetCapability, () const, "vcsGetCapability")
    RECORD(int, vcsGetComParams, (char*, int) const, "vcsGetComParams")
    RECORD(int, vcsActivateInterleaved, (unsigned short), "vcsActivateInterleaved")
    RECORD(IEventChannel*, createEventChannel, (int), "createEventChannel(int)")
    RECORD(IEventChannel*, createEventChannel, (IEventProcessor*),
           "createEventChannel(IEventProcessor*)")
    RECORD(void, deleteEventChannel, (IEventChannel*), "deleteEventChannel")
    RECORD(bool, addEventSource, (IEventChannel*, const char*), "addEventSource")
    RECORD(bool, addAlarmEvents, (IEventChannel*, IAlarm*), "addAlarmEvents")
    RECORD(void*, frontEvent, (IEventChannel*), "frontEvent")
    RECORD(void, popEvent, (IEventChannel*), "popEvent")
    RECORD(IAlarm*, createAlarm, (const char*), "createAlarm")
    RECORD(void, deleteAlarm, (IAlarm*), "deleteAlarm")
    RECORD(int, listAlarms, (IAlarmProcessor*), "listAlarms")
    RECORD(int, quitAlarm, (IAlarm*), "quitAlarm")
    RECORD(ITrend*, createTrend, (const char*), "createTrend")
    RECORD(void, deleteTrend, (ITrend*), "deleteTrend")
    RECORD(int, readTrend, (ITrend*, U64, U64, U64&, unsigned int, bool, ITrendProcessor*),
           "readTrend")
    RECORD(bool, hasPlcTimestamp, (Tag), "hasPlcTimestamp")
    RECORD(bool, readWithTimestamp, (Tag, Bytes, U64*), "readWithTimestamp")
    RECORD(bool, readBlockWithTimestamp, (Tag, Bytes, int, U64*), "readBlockWithTimestamp")
    RECORD(bool, readDatagramWithTimestamp, (Tags, int, Bytes, Status, U64*),
           "readDatagramWithTimestamp")
    RECORD(int, getTagUriFieldCount, () const, "getTagUriFieldCount")
    RECORD(const char*, getTagUriFieldName, (int) const, "getTagUriFieldName")
    RECORD(int, getTagUriFieldPosition, (const char*) const, "getTagUriFieldPosition")
    RECORD(const char*, getTagUriField, (Tag, int, int*) const, "getTagUriField")
    RECORD(bool, readArrayItem, (Tag, int, Bytes), "readArrayItem")
    RECORD(bool, writeArrayItem, (Tag, int, CBytes), "writeArrayItem")
    RECORD(bool, readBitBlockWithTimestamp, (Tag, Bytes, int, U64*), "readBitBlockWithTimestamp")
    RECORD(TagBase*, CreateTagBase, (const char*), "CreateTagBase")
    RECORD(int, GetMaxTm, (Tag) const, "GetMaxTm")
    RECORD(const char* const*, tagUriNames, () const, "tagUriNames")
};

class RecordingTag : public TagBase {
  public:
    ~RecordingTag() override { lastCall = "~"; }
    RECORD(ITag*, Clone, () const, "Clone")
    RECORD(int, GetByteOffset, () const, "GetByteOffset")
    RECORD(int, GetBitIndex, () const, "GetBitIndex")
    RECORD(const char*, GetVarName, () const, "GetVarName")
    RECORD(ICU_Type, GetVarType, () const, "GetVarType")
    RECORD(int, GetVarLength, () const, "GetVarLength")
    RECORD(ICU_Type, GetItemType, () const, "GetItemType")
    RECORD(int, PackedLen, () const, "PackedLen")
    RECORD(bool, ConvertVariable, (CBytes, Bytes, bool) const, "ConvertVariable")
    RECORD(bool, IsReadOnly, () const, "IsReadOnly")
    RECORD(bool, IsWriteOnly, () const, "IsWriteOnly")
    RECORD(bool, Convert, (CBytes, Bytes, bool) const, "Convert")
    RECORD(bool, DoConversion, (Bytes, const char*, bool) const, "DoConversion")
};

template <typename T, size_t N>
void expectSlots(T& object, const Slot (&slots)[N]) {
    int expectedIndex = 2;
    for (const Slot& s : slots) {
        ASSERT_EQ(s.index, expectedIndex++) << "table rows out of order at " << s.name;
        lastCall = nullptr;
        s.call(&object, s.index);
        ASSERT_NE(lastCall, nullptr) << "slot " << s.index;
        EXPECT_STREQ(lastCall, s.name) << "slot " << s.index;
    }
}

// Slot 0 destroys in place; slot 1 destroys and frees.
template <typename T>
void expectDestructorSlots() {
    alignas(T) unsigned char storage[sizeof(T)];
    T* inPlace = new (storage) T;
    lastCall = nullptr;
    callSlot<void>(inPlace, 0);
    EXPECT_STREQ(lastCall, "~");
    T* onHeap = new T;
    lastCall = nullptr;
    callSlot<void>(onHeap, 1);
    EXPECT_STREQ(lastCall, "~");
}

}  // namespace

TEST(VtableSlots, ProtocolSlotOrder) {
    ASSERT_EQ(sizeof ProtocolSlots / sizeof ProtocolSlots[0], 3u + 77u + 3u);
    RecordingProtocol protocol;
    expectSlots(protocol, ProtocolSlots);
    expectDestructorSlots<RecordingProtocol>();
}

TEST(VtableSlots, TagSlotOrder) {
    RecordingTag tag;
    expectSlots(tag, TagSlots);
    expectDestructorSlots<RecordingTag>();
}

TEST(VtableSlots, BaseAnswersThroughRawSlots) {
    TestDriver driver;
    driver.SetIdent("ident");
    EXPECT_EQ((callSlot<int>(&driver, 21)), 1);
    EXPECT_STREQ((callSlot<const char*>(&driver, 22)), "");
    EXPECT_STREQ((callSlot<const char*>(&driver, 29)), "ident");
    EXPECT_EQ((callSlot<int, Tag>(&driver, 43)), 0xFFFFFF);
    EXPECT_FALSE((callSlot<bool, Tag, CBytes, int>(&driver, 14)));
    EXPECT_EQ(driver.GetLastError(), -3);
    EXPECT_EQ((callSlot<const char* const*>(&driver, 84))[0], nullptr);

    TestTag tag("0.6?boolean-3(inv)");
    EXPECT_EQ((callSlot<int>(&tag, 9)), 2);
    const uint8_t raw[2] = {0x40, 0x00};  // bits 6, 7, 8 = 1, 0, 0
    uint8_t host[3] = {9, 9, 9};
    EXPECT_TRUE((callWith<bool, CBytes, Bytes, bool>(&tag, 10, raw, host, false)));
    EXPECT_EQ(host[0], 0);
    EXPECT_EQ(host[1], 1);
    EXPECT_EQ(host[2], 1);
}
