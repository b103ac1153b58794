#include <qarn/driver/Tag_QARN.h>

#include <cstdint>
#include <new>
#include <vector>

#include <qarn/driver/MemoryManager.h>
#include <qarn/driver/ParamManager.h>
#include <qarn/driver/Protocol_QARN.h>
#include <qarn/protlib/ProtUtilsN.h>

namespace {

constexpr int FieldCount = 4;

// Modbus data areas by the way users write addresses: 5-digit and 6-digit forms whose first
// digit names the area. Codes: read function in the low byte, write function (0: none) above.
struct AddressRange {
    int32_t codes;
    int32_t shortFrom;
    int32_t shortTo;
    int32_t longFrom;
    int32_t longTo;
};

const AddressRange table[] = {
    {0x0002, 10001, 19999, 100001, 165536},  // input bits
    {0x0501, 1, 9999, 1, 65536},             // coils
    {0x0603, 40001, 49999, 400001, 465536},  // holding registers
    {0x0004, 30001, 39999, 300001, 365536},  // input registers
};

int naturalLength(const MemoryType* type) {
    return ProtUtilsN::GetDataLength(type->getNaturalType());
}

}  // namespace

Tag_QARN::Tag_QARN(const char* text, const Protocol_QARN* protocol)
    : address(text != nullptr ? text : "") {
    valid = build(protocol);
}

bool Tag_QARN::fail(const char* message) {
    SetError(message);
    return false;
}

bool Tag_QARN::build(const Protocol_QARN* protocol) {
    std::vector<std::string> fields;
    ProtUtilsN::ParseSubstrings(address, fields, '?');
    if (fields.size() != FieldCount) {
        return fail("there must be 4 tag specification fields");
    }
    static const char* const missing[FieldCount] = {
        "nodeID field missing", "memorytype field missing", "subIndex field missing",
        "orbaType field missing"};
    for (int i = 0; i < FieldCount; ++i) {
        if (fields[static_cast<size_t>(i)].empty()) {
            return fail(missing[i]);
        }
    }
    const _QARN::ParamManager& params = protocol->getParamManager();
    commonParams = params.getCommonParams();
    if (commonParams == nullptr) {
        return fail("Can't access protocol common parameters");
    }
    nodeId = _QARN::toInt(fields[0].c_str());
    nodeParams = params.getNodeParams(nodeId);
    if (nodeParams == nullptr) {
        return fail("Can't access protocol node parameters");
    }
    const MemoryManager& catalogue = protocol->getMemoryManager();
    model = catalogue.getModel(nodeParams->model);
    if (model == nullptr) {
        return fail("Can't access model");
    }
    memoryType = catalogue.getMemoryType(nodeParams->model, fields[1]);
    if (memoryType == nullptr) {
        return fail("Can't access memory type");
    }
    if (!ProtUtilsN::GetORBAType(fields[3], varType, itemType, varLength, conversions)) {
        const std::string message = fields[3] + ": data type unknown";
        return fail(message.c_str());
    }
    if (!parseSubindex(fields[2])) {
        return false;
    }
    if (memoryType->isNamed("NO") && varType != ICU_UNSIGNED_BYTE) {
        return fail("invalid access to node override");
    }
    isNodeOverride = memoryType->isNamed("NO");
    if (memoryType->isNamed("SL") && varType != ICU_UNSIGNED_BYTE) {
        return fail("invalid access to Slave Address");
    }
    if (!normalizeModbusOffset()) {
        return fail("invalid offset for this memory type");
    }
    getCodes();
    if ((ProtUtilsN::GetTypeFlag(varType) & memoryType->getOrbaTypes()) == 0) {
        return fail("not allowed orba type");
    }
    if (naturalLength(memoryType) == 0) {
        return fail("invalid natural data type for this memory type");
    }
    return true;
}

bool Tag_QARN::parseSubindex(const std::string& field) {
    const int n = naturalLength(memoryType);
    const std::string::size_type dot = field.find('.');
    if (dot == std::string::npos) {
        offset = _QARN::toInt(field.c_str());
        subIndex = 0;
    } else {
        offset = _QARN::toInt(field.substr(0, dot).c_str());
        subIndex = _QARN::toInt(field.c_str() + dot + 1);
    }
    if (!memoryType->isNamed("NO") &&
        (offset < memoryType->getMinIndex() || offset > memoryType->getMaxIndex())) {
        return fail("Index out of range");
    }
    // A negative sub-index addresses nothing, in the node area as anywhere else.
    if (subIndex < 0) {
        return fail("Subindex invalid");
    }
    if (ProtUtilsN::IsBitType(varType)) {
        if (subIndex >= 8 * n) {
            return fail("Subindex invalid");
        }
    } else if (subIndex != 0) {
        // "object" has no element length, so no element of it can be picked.
        const int basic = ProtUtilsN::GetBasicLength(this);
        if (basic <= 0 || subIndex >= n / basic) {
            return fail("Subindex invalid");
        }
    }
    return true;
}

bool Tag_QARN::normalizeModbusOffset() {
    // The node areas are no Modbus areas: no function codes. "NO" has the single address 0;
    // "SL" keeps the address as written, already held to its own range.
    if (memoryType->isNamed("NO")) {
        return offset == 0;
    }
    if (memoryType->isNamed("SL")) {
        return true;
    }
    for (const AddressRange& row : table) {
        int from = 0;
        if (offset >= row.shortFrom && offset <= row.shortTo) {
            from = row.shortFrom;
        } else if (offset >= row.longFrom && offset <= row.longTo) {
            from = row.longFrom;
        } else {
            continue;
        }
        offset -= from;
        readCode = static_cast<uint8_t>(row.codes & 0xFF);
        writeCode = static_cast<uint8_t>((row.codes >> 8) & 0xFF);
        return true;
    }
    return false;
}

void Tag_QARN::getCodes() {
    if (readCode == 3) {
        writeCode = nodeParams->presetFunction == "16" ? 16 : 6;
    }
}

ITag* Tag_QARN::Clone() const {
    return new (std::nothrow) Tag_QARN(*this);
}

int Tag_QARN::GetBitIndex() const {
    const bool bitArea = ProtUtilsN::IsBitType(memoryType->getNaturalType());
    return (bitArea ? offset : subIndex) % 8;
}

int Tag_QARN::GetByteOffset() const {
    const int n = naturalLength(memoryType);
    if (!ProtUtilsN::IsBitType(varType)) {
        return ProtUtilsN::GetBasicLength(this) * subIndex + n * offset;
    }
    if (ProtUtilsN::IsBitType(memoryType->getNaturalType())) {
        return offset / 8;
    }
    return n * offset + subIndex / 8;
}

bool Tag_QARN::IsReadOnly() const {
    return memoryType != nullptr && memoryType->isReadOnly();
}

bool Tag_QARN::IsWriteOnly() const {
    return memoryType != nullptr && memoryType->isWriteOnly();
}
