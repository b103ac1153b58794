#pragma once
// A scripted protocol on top of ProtocolBase: its "device" is a byte image, its tags are addressed
// as "offset[.bit]?data-type" (an offset into the image, a bit index, a data-type string).

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ProtUtilsN.h"
#include "ProtocolBase.h"
#include "TagBase.h"

class TestTag : public TagBase {
  public:
    inline static int live = 0;  // tags constructed and not yet destroyed

    explicit TestTag(const std::string& addr) : address(addr) {
        ++live;
        const size_t sep = addr.find('?');
        if (sep == std::string::npos) {
            SetError("address needs offset?type");
            return;
        }
        char* end = nullptr;
        offset = static_cast<int>(std::strtol(addr.c_str(), &end, 10));
        if (*end == '.') {
            bitIndex = static_cast<int>(std::strtol(end + 1, nullptr, 10));
        }
        const std::string type = addr.substr(sep + 1);
        if (!ProtUtilsN::GetORBAType(type, varType, itemType, varLength, conversions)) {
            SetError((type + ": data type unknown").c_str());
            return;
        }
        valid = true;
    }
    TestTag(const TestTag& other)
        : TagBase(other),
          valid(other.valid),
          address(other.address),
          offset(other.offset),
          bitIndex(other.bitIndex),
          varType(other.varType),
          itemType(other.itemType),
          varLength(other.varLength) {
        ++live;
    }
    ~TestTag() override { --live; }

    ITag* Clone() const override { return new TestTag(*this); }
    int GetByteOffset() const override { return offset; }
    int GetBitIndex() const override { return bitIndex; }
    const char* GetVarName() const override { return address.c_str(); }
    ICU_Type GetVarType() const override { return varType; }
    int GetVarLength() const override { return varLength; }
    ICU_Type GetItemType() const override { return itemType; }

    bool valid = false;

  private:
    std::string address;
    int offset = 0;
    int bitIndex = 0;
    ICU_Type varType = ICU_NONE;
    ICU_Type itemType = ICU_NONE;
    int varLength = 0;
};

class TestDriver : public ProtocolBase {
  public:
    std::vector<uint8_t> image = std::vector<uint8_t>(1024, 0);
    bool failRead = false;
    bool failWrite = false;
    bool bitBlocks = false;          // reads go through ReadBitBlock
    bool scriptedDatagrams = false;  // false: the base answers for datagrams
    bool datagramOk = false;         // what ReadDatagram answers
    int datagramItems = 0;           // MaxDatagramItems
    int datagramLength = 0;          // MaxDatagramLength
    bool coexist = true;             // CanCoexistInDatagram
    const char* xml = nullptr;       // GetXml
    const char* name = "TEST";       // GetName
    int readCalls = 0;
    int writeCalls = 0;
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

    bool ReadBlock(const ITag* tag, uint8_t* raw, int length) override {
        ++readCalls;
        lastLength = length;
        if (failRead) {
            SetError(-6, "no answer");
            return false;
        }
        std::memcpy(raw, image.data() + tag->GetByteOffset(), static_cast<size_t>(length));
        return true;
    }
    bool CanReadBitBlock(const ITag*) const override { return bitBlocks; }
    bool ReadBitBlock(const ITag* tag, uint8_t* raw, int bits) override {
        ++readCalls;
        lastLength = bits;
        if (failRead) {
            SetError(-6, "no answer");
            return false;
        }
        std::memcpy(raw, image.data() + tag->GetByteOffset(),
                    static_cast<size_t>(tag->PackedLen()));
        return true;
    }
    bool Write(const ITag* tag, const uint8_t* value) override {
        ++writeCalls;
        if (failWrite) {
            SetError(-6, "no answer");
            return false;
        }
        if (!tag->ConvertVariable(value, image.data() + tag->GetByteOffset(), true)) {
            SetError(-9, "write conversion error");
            return false;
        }
        return true;
    }
    bool ReadDatagram(const ITag* const* list, int count, uint8_t* raw) override {
        return scriptedDatagrams ? datagramOk : ProtocolBase::ReadDatagram(list, count, raw);
    }
    int MaxDatagramItems(const ITag* tag) const override {
        return scriptedDatagrams ? datagramItems : ProtocolBase::MaxDatagramItems(tag);
    }
    int MaxDatagramLength(const ITag* tag) const override {
        return scriptedDatagrams ? datagramLength : ProtocolBase::MaxDatagramLength(tag);
    }
    bool CanCoexistInDatagram(const ITag* first, const ITag* second) const override {
        return scriptedDatagrams ? coexist : ProtocolBase::CanCoexistInDatagram(first, second);
    }
};
