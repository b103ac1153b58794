// Tag address strings through CreateTag after a fixed configuration, and data-type strings
// through GetORBAType.
//
// Input: a byte choosing one of four configurations (models, write function, several nodes),
// then the address string (up to its first NUL), whose last field also serves as a data-type
// string.
//
// Properties: a refused address leaves error -1 naming the address; a tag reports its address
// as given, a bit index of 0 to 7, no negative offset or length, function codes the driver
// knows and a clone that equals it; a parsed data type names itself back (GetORBAName) as the
// same type and length; an instance that is not started refuses reads without touching the
// buffer.

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "DriverRig.h"
#include "FuzzCheck.h"
#include "MemoryType.h"
#include "ProtUtilsN.h"
#include "Tag_QARN.h"

namespace {

using namespace qarnfuzz;

const char* const Configurations[] = {
    "defNodeId=1 model=GenericModbus",
    "defNodeId=1 model=EM24 presetFunction=16 maxOptLen=20",
    "defNodeId=1 model=ISMG1xx",
    ("defNodeId=1 model=GenericModbus Node2::defNodeId=2 Node2::model=WM30 "
     "Node3::defNodeId=3 Node3::model=nosuch Node4::defNodeId=4 Node4::model=ISMG3xx"),
};

bool oneOf(int value, std::initializer_list<int> allowed) {
    for (int a : allowed) {
        if (value == a) {
            return true;
        }
    }
    return false;
}

void checkDataType(const std::string& text) {
    ICU_Type varType = ICU_NONE;
    ICU_Type itemType = ICU_NONE;
    int length = -1;
    std::vector<std::string> conversions;
    if (!ProtUtilsN::GetORBAType(text, varType, itemType, length, conversions)) {
        return;
    }
    FUZZ_CHECK(length >= 0, "negative length " + std::to_string(length));
    const int fixed = ProtUtilsN::GetDataLength(varType);
    if (fixed != 0) {
        FUZZ_CHECK(length == fixed && itemType == ICU_NONE,
                   "fixed type with length " + std::to_string(length));
    }
    // "object" names its length rather than a count and does not parse back.
    const int itemLength = ProtUtilsN::GetDataLength(itemType);
    if (varType == ICU_OBJECT || (itemLength != 0 && length % itemLength != 0)) {
        return;
    }
    const std::string name = ProtUtilsN::GetORBAName(varType, length);
    ICU_Type backType = ICU_NONE;
    ICU_Type backItem = ICU_NONE;
    int backLength = -1;
    std::vector<std::string> none;
    FUZZ_CHECK(ProtUtilsN::GetORBAType(name, backType, backItem, backLength, none) &&
                   backType == varType && backItem == itemType && backLength == length &&
                   none.empty(),
               "\"" + name + "\" does not name type " + std::to_string(varType) + " of length " +
                   std::to_string(length));
}

void checkTag(Protocol_QARN& protocol, const Tag_QARN* tag, const std::string& address) {
    FUZZ_CHECK(address == tag->GetVarName(), std::string("named ") + tag->GetVarName());
    FUZZ_CHECK(tag->GetBitIndex() >= 0 && tag->GetBitIndex() <= 7,
               "bit index " + std::to_string(tag->GetBitIndex()));
    FUZZ_CHECK(tag->GetByteOffset() >= 0, "byte offset " + std::to_string(tag->GetByteOffset()));
    FUZZ_CHECK(tag->GetVarLength() >= 0, "length " + std::to_string(tag->GetVarLength()));
    FUZZ_CHECK(tag->PackedLen() >= 0, "packed length " + std::to_string(tag->PackedLen()));
    if (!ProtUtilsN::IsBitType(tag)) {
        FUZZ_CHECK(tag->PackedLen() == tag->GetVarLength(), "packed length of a byte type");
    }
    const MemoryType* area = tag->getMemoryType();
    const bool pseudo = area->isNamed("NO") || area->isNamed("SL");
    FUZZ_CHECK(tag->isNodeOverrideTag() == area->isNamed("NO"), "node override flag");
    if (pseudo) {
        FUZZ_CHECK(tag->getReadCode() == 0 && tag->getWriteCode() == 0, "codes of a node area");
    } else {
        FUZZ_CHECK(
            oneOf(tag->getReadCode(), {1, 2, 3, 4}) && oneOf(tag->getWriteCode(), {0, 5, 6, 16}),
            "codes " + std::to_string(tag->getReadCode()) + "/" +
                std::to_string(tag->getWriteCode()));
        FUZZ_CHECK(tag->getOffset() >= 0 && tag->getOffset() <= 65535,
                   "item number " + std::to_string(tag->getOffset()));
    }
    if (area->isReadOnly()) {
        FUZZ_CHECK(tag->getWriteCode() == 0, "read-only area with a write function");
    }

    std::unique_ptr<ITag> clone(tag->Clone());
    FUZZ_CHECK(clone != nullptr, "no clone");
    const auto* copy = static_cast<const Tag_QARN*>(clone.get());
    FUZZ_CHECK(std::strcmp(copy->GetVarName(), tag->GetVarName()) == 0 &&
                   copy->GetVarType() == tag->GetVarType() &&
                   copy->GetVarLength() == tag->GetVarLength() &&
                   copy->GetByteOffset() == tag->GetByteOffset() &&
                   copy->GetBitIndex() == tag->GetBitIndex() &&
                   copy->PackedLen() == tag->PackedLen() && copy->getOffset() == tag->getOffset() &&
                   copy->getReadCode() == tag->getReadCode() &&
                   copy->getWriteCode() == tag->getWriteCode() &&
                   copy->getConversions() == tag->getConversions() &&
                   copy->getNodeParams() == tag->getNodeParams(),
               "clone differs");
    if (pseudo) {
        FUZZ_CHECK(!protocol.CanBeOptimized(tag, copy, false), "a node area merges");
    }
    // The host orders and joins tags by their bit positions; a tag is never before itself.
    FUZZ_CHECK(!protocol.IsBefore(tag, copy), "a tag before itself");
    const bool empty =
        ProtUtilsN::IsBitType(tag) ? tag->GetVarLength() == 0 : tag->PackedLen() == 0;
    FUZZ_CHECK(protocol.IsAdjacent(tag, copy) == empty, "adjacent to itself exactly when empty");

    uint8_t raw[4] = {0x11, 0x22, 0x33, 0x44};
    FUZZ_CHECK(!protocol.ReadBlock(tag, raw, sizeof raw) && protocol.GetLastError() == -3 &&
                   raw[0] == 0x11 && raw[3] == 0x44,
               "read before Start");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const char* nodes = Configurations[in.below(4)];
    const std::vector<uint8_t> rest = in.bytes(in.remaining());
    std::string address(rest.begin(), rest.end());
    address.resize(std::strlen(address.c_str()));

    // The data-type field of the address, or the whole text when it has no "?".
    std::vector<std::string> fields;
    ProtUtilsN::ParseSubstrings(address, fields, '?');
    checkDataType(fields.back());

    DriverRig rig;
    FUZZ_CHECK(rig.configure(std::string(LineConfig) + nodes), rig.lastError());
    ITag* created = rig.protocol->CreateTag(address.c_str());
    if (created == nullptr) {
        const std::string error = rig.protocol->GetLastErrorString();
        FUZZ_CHECK((rig.protocol->GetLastError() == -1 &&
                    error.rfind("Tag URI error: " + address + " - ", 0) == 0) ||
                       (rig.protocol->GetLastError() == 0 && error == "Can't allocate Tag"),
                   "refused with " + rig.lastError());
        return 0;
    }
    checkTag(*rig.protocol, static_cast<const Tag_QARN*>(created), address);
    rig.protocol->FreeTag(created);
    return 0;
}
