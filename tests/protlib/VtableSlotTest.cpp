// Every slot, called through the raw virtual table (Itanium C++ ABI: a virtual destructor takes two
// entries), must reach the operation listed at its place below; the overrides record their name.

#include <gtest/gtest.h>

#include <type_traits>

#include "TestDriver.h"

namespace {

// clang-format off
using Tag = const ITag*; using Tags = const ITag* const*; using Bytes = uint8_t*;
using CBytes = const uint8_t*; using Status = idal_error_t*; using U64 = uint64_t;
using Str = const char*; using Channel = IEventChannel*;

// Binding order after the two destructor entries: IInterface, then the 77 protocol operations,
// then the 3 of ProtocolBase. One entry per slot: result, name, parameters.
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

std::string lastCall;
template <typename T>
using Id = T;
// An override that records "name(parameters)", so the two createEventChannel stay apart.
#define RECORD(R, name, params) R name params override { return lastCall = #name #params, Id<R>(); }
// clang-format on

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
template <typename T>
struct Zero {
    inline static std::remove_reference_t<T> value{};
};
template <typename M>
struct RawCall;
template <typename R, typename C, typename... A>
struct RawCall<R (C::*)(A...)> {
    static void call(void* object, int index) {
        const std::add_pointer_t<R(void*, A...)>* table = nullptr;
        std::memcpy(&table, object, sizeof table);
        table[index](object, Zero<A>::value...);
    }
};
template <typename R, typename C, typename... A>
struct RawCall<R (C::*)(A...) const> : RawCall<R (C::*)(A...)> {};

using Slot = std::pair<const char*, void (*)(void*, int)>;  // label, raw call

#define PROTOCOL_ROW(R, name, params) \
    Slot{#name #params, &RawCall<R(RecordingProtocol::*) params>::call},
#define TAG_ROW(R, name, params) Slot{#name #params, &RawCall<R(RecordingTag::*) params>::call},

// Slots 0 and 1 are the destructor's (the second also frees); the table follows from slot 2.
template <typename T>
void expectSlotOrder(const std::vector<Slot>& slots) {
    T object;
    for (size_t i = 0; i < slots.size(); ++i) {
        slots[i].second(&object, static_cast<int>(i) + 2);
        EXPECT_EQ(lastCall, slots[i].first) << "slot " << i + 2;
    }
    RawCall<void (T::*)()>::call(new T, 1);
    EXPECT_EQ(lastCall, "~");
}

TEST(VtableSlots, ProtocolAndTagSlotOrder) {
    const std::vector<Slot> protocolSlots = {PROTOCOL_SLOTS(PROTOCOL_ROW)},
                            tagSlots = {TAG_SLOTS(TAG_ROW)};
    ASSERT_EQ(std::make_pair(protocolSlots.size(), tagSlots.size()),
              std::make_pair(size_t{3 + 77 + 3}, size_t{13}));
    expectSlotOrder<RecordingProtocol>(protocolSlots);
    expectSlotOrder<RecordingTag>(tagSlots);
}

}  // namespace
