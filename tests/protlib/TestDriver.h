#pragma once
// A scripted protocol on top of ProtocolBase: its "device" is a byte image, its tags are addressed
// as "offset[.bit]?data-type" (an offset into the image, a bit index, a data-type string).

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include <qarn/host/ErrorCodes.h>
#include <qarn/protlib/ProtUtilsN.h>
#include <qarn/protlib/ProtocolBase.h>
#include <qarn/protlib/TagBase.h>
#include "ScriptedSerialPort.h"

using qarntest::Bytes;
using qarntest::hexBytes;

class TestTag : public TagBase {
  public:
    inline static int live = 0;  // tags alive, copies included
    explicit TestTag(const std::string& addr) : address(addr) {
        ++live;
        const std::string type = addr.substr(addr.find('?') + 1);
        std::sscanf(addr.c_str(), "%d.%d", &offset, &bitIndex);
        valid = ProtUtilsN::GetORBAType(type, varType, itemType, varLength, conversions);
        if (!valid) {
            SetError((type + ": data type unknown").c_str());
        }
    }
    TestTag(const TestTag& other) : TestTag(other.address) {}
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
    int offset = 0, bitIndex = 0, varLength = 0;
    ICU_Type varType = ICU_NONE, itemType = ICU_NONE;
};

class TestDriver : public ProtocolBase {
  public:
    Bytes image = Bytes(1024, 0);
    bool failRead = false, failWrite = false, bitBlocks = false;  // bitBlocks: via ReadBitBlock
    const char *xml = nullptr, *name = "TEST";                    // GetXml, GetName
    int writeCalls = 0, lastLength = -1;  // lastLength: the bytes or bits of the last block read

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
        auto tag = std::make_unique<TestTag>(address);
        if (!tag->valid) {
            SetTagError(tag.get());
        }
        return tag->valid ? tag.release() : nullptr;
    }
    bool CanReadBitBlock(const ITag*) const override { return bitBlocks; }
    bool ReadBlock(const ITag* t, uint8_t* raw, int n) override { return read(t, raw, n); }
    bool ReadBitBlock(const ITag* t, uint8_t* raw, int bits) override { return read(t, raw, bits); }
    bool Write(const ITag* tag, const uint8_t* value) override {
        ++writeCalls;
        if (failWrite) {
            SetError(ErrorCode::Communication, "no answer");
            return false;
        }
        return tag->ConvertVariable(value, image.data() + tag->GetByteOffset(), true);
    }

  private:
    bool read(const ITag* tag, uint8_t* raw, int length) {
        lastLength = length;
        if (failRead) {
            SetError(ErrorCode::Communication, "no answer");
            return false;
        }
        std::memcpy(raw, image.data() + tag->GetByteOffset(),
                    static_cast<size_t>(tag->PackedLen()));
        return true;
    }
};
