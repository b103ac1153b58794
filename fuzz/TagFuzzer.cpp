// Tag address strings through CreateTag after one of four configurations, their last "?" field
// through GetORBAType (layout and properties in README.md).

#include <algorithm>

#include "DriverRig.h"

using namespace qarnfuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Four lines: a plain one, merging limits, ISMG framing, and several nodes with one model
    // that does not exist.
    static constexpr const char* ManyNodes =
        "defNodeId=1 model=GenericModbus Node2::defNodeId=2 Node2::model=WM30 Node3::defNodeId=3 "
        "Node3::model=nosuch Node4::defNodeId=4 Node4::model=ISMG3xx";
    static const char* const Configurations[] = {
        "defNodeId=1 model=GenericModbus", "defNodeId=1 model=EM24 presetFunction=16 maxOptLen=20",
        "defNodeId=1 model=ISMG1xx", ManyNodes};
    FuzzInput in{data, size};
    const char* nodes = Configurations[in.byte() % 4];
    const Bytes rest = in.bytes(size);
    const std::string address(rest.begin(), std::find(rest.begin(), rest.end(), 0));
    FUZZ_CHECK(typeLength(address.substr(address.rfind('?') + 1)) >= 0, "negative length");

    DriverRig rig;
    FUZZ_CHECK(rig.configure(LineConfig + std::string(nodes)), rig.lastError());
    Protocol_QARN& protocol = *rig.protocol;
    ITag* tag = protocol.CreateTag(address.c_str());
    FUZZ_CHECK(tag != nullptr ||
                   rig.lastError().rfind("-1 Tag URI error: " + address + " - ", 0) == 0 ||
                   rig.lastError() == "0 Can't allocate Tag",
               "refused with " + rig.lastError());
    if (tag == nullptr) {
        return 0;
    }
    FUZZ_CHECK(tag->GetBitIndex() >= 0 && tag->GetBitIndex() <= 7 && tag->GetByteOffset() >= 0 &&
                   tag->GetVarLength() >= 0 && tag->PackedLen() >= 0,
               address);
    // The host orders and joins tags by these.
    const std::unique_ptr<ITag> copy(tag->Clone());
    const bool empty =
        ProtUtilsN::IsBitType(tag) ? tag->GetVarLength() == 0 : tag->PackedLen() == 0;
    FUZZ_CHECK(!protocol.IsBefore(tag, copy.get()) && protocol.IsAdjacent(tag, copy.get()) == empty,
               "compared with itself: " + address);
    protocol.FreeTag(tag);
    return 0;
}
