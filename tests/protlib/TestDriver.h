#pragma once
// A scripted protocol on top of ProtocolBase: its "device" is a byte image, its tags are addressed
// as "offset[.bit]?data-type" (an offset into the image, a bit index, a data-type string).

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ProtUtilsN.h"
#include "ProtocolBase.h"
#include "TagBase.h"

// "0102 ff" -> {0x01, 0x02, 0xff}; blanks are for the reader.
inline std::vector<uint8_t> hex(const std::string& text) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < text.size(); i += text[i] == ' ' ? 1 : 2) {
        if (text[i] != ' ') {
            bytes.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
        }
    }
    return bytes;
}

// Counts the tags alive, copies included, so tests can see who destroyed what.
struct LiveCount {
    inline static int live = 0;
    LiveCount() { ++live; }
    LiveCount(const LiveCount&) { ++live; }
    ~LiveCount() { --live; }
};

class TestTag : public TagBase {
  public:
    explicit TestTag(const std::string& addr) : address(addr) {
        const size_t sep = addr.find('?');
        std::sscanf(addr.c_str(), "%d.%d", &offset, &bitIndex);
        valid =
            sep != std::string::npos && ProtUtilsN::GetORBAType(addr.substr(sep + 1), varType,
                                                                itemType, varLength, conversions);
        if (!valid) {
            SetError((addr.substr(sep + 1) + ": data type unknown").c_str());
        }
    }
    TestTag(const TestTag&) = default;

    ITag* Clone() const override { return new TestTag(*this); }
    int GetByteOffset() const override { return offset; }
    int GetBitIndex() const override { return bitIndex; }
    const char* GetVarName() const override { return address.c_str(); }
    ICU_Type GetVarType() const override { return varType; }
    int GetVarLength() const override { return varLength; }
    ICU_Type GetItemType() const override { return itemType; }

    bool valid = false;

  private:
    LiveCount count;
    std::string address;
    int offset = 0, bitIndex = 0, varLength = 0;
    ICU_Type varType = ICU_NONE, itemType = ICU_NONE;
};

class TestDriver : public ProtocolBase {
  public:
    std::vector<uint8_t> image = std::vector<uint8_t>(1024, 0);
    bool failRead = false, failWrite = false;
    bool bitBlocks = false;     // reads go through ReadBitBlock
    const char* xml = nullptr;  // GetXml
    const char* name = "TEST";  // GetName
    int readCalls = 0, writeCalls = 0;
    int lastLength = -1;  // length or bit count of the last block read

    bool Config(const char*) override { return true; }
    bool CanBeOptimized(const ITag*, const ITag*, bool) const override { return false; }
    const char* GetName() const override { return name; }
    int GetProtocolVersion() const override { return 7; }
    int GetProtocolType() const override { return 42; }
    const char* GetProtocolName() const override { return "Test protocol"; }
    int GetNodeID(const ITag*) const override { return 0; }
    const char* GetImpName() const override { return "TestDriver"; }
    int GetImpVersion() const override { return 3; }
    const char* GetXml() const override { return xml; }
    int GetMaxTm(const ITag*) const override { return 1500; }

    TagBase* CreateTagBase(const char* address) override {
        auto* tag = new TestTag(address);
        if (!tag->valid) {
            SetTagError(tag);
            delete tag;
            return nullptr;
        }
        return tag;
    }
    bool CanReadBitBlock(const ITag*) const override { return bitBlocks; }
    bool ReadBlock(const ITag* t, uint8_t* raw, int length) override {
        return read(t, raw, length);
    }
    bool ReadBitBlock(const ITag* t, uint8_t* raw, int bits) override { return read(t, raw, bits); }
    bool Write(const ITag* tag, const uint8_t* value) override {
        ++writeCalls;
        if (failWrite) {
            SetError(-6, "no answer");
            return false;
        }
        return tag->ConvertVariable(value, image.data() + tag->GetByteOffset(), true);
    }

  private:
    bool read(const ITag* tag, uint8_t* raw, int length) {
        ++readCalls;
        lastLength = length;
        if (failRead) {
            SetError(-6, "no answer");
            return false;
        }
        std::memcpy(raw, image.data() + tag->GetByteOffset(),
                    static_cast<size_t>(tag->PackedLen()));
        return true;
    }
};
