#pragma once
// One addressable area of a device model: its address range, the data types a tag may use there,
// the natural type of one item, whether it may be written and how many items one block read spans.

#include <cstddef>
#include <cstring>
#include <string>

#include <qarn/host/HostTypes.h>

class MemoryType {
  public:
    MemoryType() = default;

    std::string getName() const { return name; }
    // Exact, case-sensitive comparison without copying the name. With a literal the length is
    // known, so the read path tests it without a library call.
    template <size_t N>
    bool isNamed(const char (&text)[N]) const {
        return name.size() == N - 1 && std::memcmp(name.data(), text, N - 1) == 0;
    }
    bool isNamed(const std::string& text) const { return name == text; }
    ICU_Type getNaturalType() const { return naturalType; }
    int getOrbaTypes() const { return orbaTypes; }
    bool isReadOnly() const { return readOnly; }
    bool isWriteOnly() const { return writeOnly; }
    int getMinIndex() const { return minIndex; }
    int getMaxIndex() const { return maxIndex; }
    int getBlockReadCount() const { return blockReadCount; }

    void setName(const std::string& value) { name = value; }
    void setNaturalType(ICU_Type value) { naturalType = value; }
    void setOrbaTypes(int value) { orbaTypes = value; }
    void setSwap2(bool value) { swap2 = value; }
    void setSwap4(bool value) { swap4 = value; }
    void setBitWrite(bool value) { bitWrite = value; }
    void setBitArrayWrite(bool value) { bitArrayWrite = value; }
    void setReadOnly(bool value) { readOnly = value; }
    void setInDatagram(bool value) { inDatagram = value; }
    void setInternalConversion(bool value) { internalConversion = value; }
    void setMinIndex(int value) { minIndex = value; }
    void setMaxIndex(int value) { maxIndex = value; }
    void setBlockReadCount(int value) { blockReadCount = value; }
    void setBlockWriteCount(int value) { blockWriteCount = value; }

  private:
    std::string name;
    ICU_Type naturalType = ICU_BOOLEAN;
    // Every type from "boolean" to "time-"; none of the 64-bit types, nor "object".
    int orbaTypes = 0x3fffff;
    // Published with the description only; the driver never reads them.
    bool swap2 = false;
    bool swap4 = false;
    bool bitWrite = false;
    bool bitArrayWrite = false;
    bool readOnly = false;
    bool writeOnly = false;
    bool inDatagram = false;
    bool internalConversion = false;
    int blockReadCount = 0;
    int blockWriteCount = 0;
    int minIndex = 0;
    int maxIndex = 0;
};
