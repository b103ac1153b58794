// The host calls protocols and tags by virtual slot. Every slot is called through the raw virtual
// table (Itanium C++ ABI, as GCC uses it on x86-64 and ARM EABI: the table pointer heads the
// object, a virtual destructor takes two entries) and must reach the operation written at its
// place in the lists below. Each override only records its own name.

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <type_traits>

#include "TestDriver.h"

namespace {

using Tag = const ITag*;
using Tags = const ITag* const*;
using Bytes = uint8_t*;
using CBytes = const uint8_t*;
using Status = idal_error_t*;
using U64 = uint64_t;
using Str = const char*;
using Channel = IEventChannel*;

// Binding order after the two destructor entries: IInterface, then the 77 protocol operations,
// then the 3 of ProtocolBase. One entry per slot: result, name, parameters.
// clang-format off
#define PROTOCOL_SLOTS(X) \
    X(void*, ConvertTo, (Str)) X(Str, GetImpName, () const) X(int, GetImpVersion, () const) \
    X(bool, Config, (Str)) X(ITag*, CreateTag, (Str)) X(void, FreeTag, (ITag*)) \
    X(bool, CanBeOptimized, (Tag, Tag, bool) const) X(bool, Start, ()) X(bool, Stop, ()) \
    X(bool, Read, (Tag, Bytes)) X(bool, Write, (Tag, CBytes)) \
    X(bool, ReadBlock, (Tag, Bytes, int)) X(bool, WriteBlock, (Tag, CBytes, int)) \
    X(int, MaxDatagramItems, (Tag) const) X(int, MaxDatagramLength, (Tag) const) \
    X(bool, CanCoexistInDatagram, (Tag, Tag) const) X(bool, ReadDatagram, (Tags, int, Bytes)) \
    X(Str, GetName, () const) X(Str, GetNextInstanceName, () const) X(int, GetLastError, () const) \
    X(Str, GetLastErrorString, () const) X(int, GetProtocolVersion, () const) \
    X(int, GetProtocolType, () const) X(Str, GetProtocolName, () const) \
    X(int, GetInfo, (char*, int) const) X(Str, GetXml, () const) X(bool, IsConverted, () const) \
    X(Str, GetIdent, () const) X(void, SetIdent, (Str)) X(int, DoCommand, (Str, char*, int)) \
    X(int, Extend, (int, void*)) X(bool, CanAddToDatagram, (Tags, int, Tag)) \
    X(bool, ReadDatagramWithStatus, (Tags, int, Bytes, Status)) \
    X(bool, MultipleReadSupported, () const) X(bool, MultipleRead, (IMultiRead*)) \
    X(bool, MultipleWriteSupported, () const) X(bool, MultipleWrite, (IMultiWrite*)) \
    X(int, GetNodeID, (Tag) const) X(bool, CanReadBitBlock, (Tag) const) \
    X(bool, ReadBitBlock, (Tag, Bytes, int)) X(void*, GetInterface, (Str)) \
    X(int, MaxUnusedGap, (Tag) const) X(bool, IsBefore, (Tag, Tag) const) \
    X(bool, IsAdjacent, (Tag, Tag) const) X(bool, NeedsReadBeforeWrite, (Tag) const) \
    X(bool, CanWriteDatagrams, (Tag) const) X(bool, CanAddToWriteDatagram, (Tags, int, Tag) const) \
    X(bool, WriteDatagramWithStatus, (Tags, int, CBytes, Status)) \
    X(bool, CanWriteBitBlock, (Tag) const) X(bool, WriteBitBlock, (Tag, CBytes, int)) \
    X(bool, readObject, (Tag, IObjectString*)) X(bool, writeObject, (Tag, const IObjectString*)) \
    X(int, vcsGetCapability, () const) X(int, vcsGetComParams, (char*, int) const) \
    X(int, vcsActivateInterleaved, (unsigned short)) X(Channel, createEventChannel, (int)) \
    X(Channel, createEventChannel, (IEventProcessor*)) X(void, deleteEventChannel, (Channel)) \
    X(bool, addEventSource, (Channel, Str)) X(bool, addAlarmEvents, (Channel, IAlarm*)) \
    X(void*, frontEvent, (Channel)) X(void, popEvent, (Channel)) X(IAlarm*, createAlarm, (Str)) \
    X(void, deleteAlarm, (IAlarm*)) X(int, listAlarms, (IAlarmProcessor*)) \
    X(int, quitAlarm, (IAlarm*)) X(ITrend*, createTrend, (Str)) X(void, deleteTrend, (ITrend*)) \
    X(int, readTrend, (ITrend*, U64, U64, U64&, unsigned int, bool, ITrendProcessor*)) \
    X(bool, hasPlcTimestamp, (Tag)) X(bool, readWithTimestamp, (Tag, Bytes, U64*)) \
    X(bool, readBlockWithTimestamp, (Tag, Bytes, int, U64*)) \
    X(bool, readDatagramWithTimestamp, (Tags, int, Bytes, Status, U64*)) \
    X(int, getTagUriFieldCount, () const) X(Str, getTagUriFieldName, (int) const) \
    X(int, getTagUriFieldPosition, (Str) const) X(Str, getTagUriField, (Tag, int, int*) const) \
    X(bool, readArrayItem, (Tag, int, Bytes)) X(bool, writeArrayItem, (Tag, int, CBytes)) \
    X(bool, readBitBlockWithTimestamp, (Tag, Bytes, int, U64*)) X(TagBase*, CreateTagBase, (Str)) \
    X(int, GetMaxTm, (Tag) const) X(Str const*, tagUriNames, () const)

// The tag interface, then TagBase's own two.
#define TAG_SLOTS(X) \
    X(ITag*, Clone, () const) X(int, GetByteOffset, () const) X(int, GetBitIndex, () const) \
    X(Str, GetVarName, () const) X(ICU_Type, GetVarType, () const) X(int, GetVarLength, () const) \
    X(ICU_Type, GetItemType, () const) X(int, PackedLen, () const) \
    X(bool, ConvertVariable, (CBytes, Bytes, bool) const) X(bool, IsReadOnly, () const) \
    X(bool, IsWriteOnly, () const) X(bool, Convert, (CBytes, Bytes, bool) const) \
    X(bool, DoConversion, (Bytes, Str, bool) const)
// clang-format on

std::string lastCall;
template <typename T>
using Id = T;

// An override that records "name(parameters)", so the two createEventChannel stay apart.
#define RECORD(R, name, params)   \
    R name params override {      \
        lastCall = #name #params; \
        return Id<R>();           \
    }

class RecordingProtocol : public ProtocolBase {
  public:
    ~RecordingProtocol() override { lastCall = "~"; }
    PROTOCOL_SLOTS(RECORD)
};

class RecordingTag : public TagBase {
  public:
    ~RecordingTag() override { lastCall = "~"; }
    TAG_SLOTS(RECORD)
};

// Calls raw slot `index` of `object` with the parameter types of member type M, zero arguments.
template <typename M>
struct RawCall;
template <typename R, typename C, typename... A>
struct RawCall<R (C::*)(A...)> {
    static void call(void* object, int index) {
        const std::add_pointer_t<R(void*, A...)>* table = nullptr;
        std::memcpy(&table, object, sizeof table);
        table[index](object, zero<A>()...);
    }
    template <typename T>
    static T zero() {
        static std::remove_reference_t<T> value{};
        return value;
    }
};
template <typename R, typename C, typename... A>
struct RawCall<R (C::*)(A...) const> : RawCall<R (C::*)(A...)> {};

struct Slot {
    const char* label;
    void (*call)(void*, int);
};

#define PROTOCOL_ROW(R, name, params) \
    Slot{#name #params, &RawCall<R(RecordingProtocol::*) params>::call},
#define TAG_ROW(R, name, params) Slot{#name #params, &RawCall<R(RecordingTag::*) params>::call},

template <typename T, size_t N>
void expectSlotOrder(const Slot (&slots)[N]) {
    T object;
    for (size_t i = 0; i < N; ++i) {
        lastCall.clear();
        slots[i].call(&object, static_cast<int>(i) + 2);
        EXPECT_EQ(lastCall, slots[i].label) << "slot " << i + 2;
    }
    // Slot 0 destroys in place, slot 1 destroys and frees.
    alignas(T) unsigned char storage[sizeof(T)];
    for (void* target : {static_cast<void*>(new (storage) T), static_cast<void*>(new T)}) {
        lastCall.clear();
        RawCall<void (T::*)()>::call(target, target == storage ? 0 : 1);
        EXPECT_EQ(lastCall, "~");
    }
}

TEST(VtableSlots, ProtocolSlotOrder) {
    const Slot slots[] = {PROTOCOL_SLOTS(PROTOCOL_ROW)};
    ASSERT_EQ(sizeof slots / sizeof slots[0], 3u + 77u + 3u);
    expectSlotOrder<RecordingProtocol>(slots);
}

TEST(VtableSlots, TagSlotOrder) {
    const Slot slots[] = {TAG_SLOTS(TAG_ROW)};
    ASSERT_EQ(sizeof slots / sizeof slots[0], 13u);
    expectSlotOrder<RecordingTag>(slots);
}

}  // namespace
