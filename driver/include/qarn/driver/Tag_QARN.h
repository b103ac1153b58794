#pragma once
// A tag of this driver, built from its address string "node?memorytype?address[.sub]?datatype":
// the node's parameter set, model and memory type, the 0-based item number sent on the line and
// the Modbus function codes for reading and writing.

#include <cstdint>
#include <string>

#include <qarn/protlib/TagBase.h>

class MemoryType;
class Model;
class Protocol_QARN;
namespace _QARN {
class NodeParams;
class CommonParams;
}  // namespace _QARN

class Tag_QARN : public TagBase {
  public:
    // Runs every check; IsValid() tells whether the tag may be used, getErrorText() why not.
    Tag_QARN(const char* address, const Protocol_QARN* protocol);
    ~Tag_QARN() override = default;

    bool IsValid() const { return valid; }

    // ITag
    ITag* Clone() const override;
    int GetByteOffset() const override;
    int GetBitIndex() const override;
    const char* GetVarName() const override { return address.c_str(); }
    ICU_Type GetVarType() const override { return varType; }
    int GetVarLength() const override { return varLength; }
    ICU_Type GetItemType() const override { return itemType; }
    bool IsReadOnly() const override;
    bool IsWriteOnly() const override;

    int getNodeId() const { return nodeId; }
    int getOffset() const { return offset; }
    int getSubIndex() const { return subIndex; }
    const MemoryType* getMemoryType() const { return memoryType; }
    const _QARN::NodeParams* getNodeParams() const { return nodeParams; }
    const _QARN::CommonParams* getCommonParams() const { return commonParams; }
    const Model* getModel() const { return model; }
    uint8_t getReadCode() const { return readCode; }
    uint8_t getWriteCode() const { return writeCode; }
    bool isNodeOverrideTag() const { return isNodeOverride; }

    // Steps of construction, in the order they run.
    bool parseSubindex(const std::string& field);
    bool normalizeModbusOffset();
    void getCodes();

  private:
    Tag_QARN(const Tag_QARN& other) = default;

    bool build(const Protocol_QARN* protocol);
    bool fail(const char* message);

    bool valid = false;
    std::string address;
    int nodeId = 0;
    ICU_Type varType = ICU_NONE;
    int varLength = 0;
    ICU_Type itemType = ICU_NONE;
    int offset = 0;
    int subIndex = 0;
    const MemoryType* memoryType = nullptr;
    const _QARN::NodeParams* nodeParams = nullptr;
    const _QARN::CommonParams* commonParams = nullptr;
    const Model* model = nullptr;
    uint8_t readCode = 0;
    uint8_t writeCode = 0;
    bool isNodeOverride = false;
};
