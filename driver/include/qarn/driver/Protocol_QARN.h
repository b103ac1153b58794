#pragma once
// The Modbus RTU master protocol: configuration, tags, the serial line's lifecycle, the node-id
// override table, and the read and write engines that turn tag accesses into transactions.

#include <cstdint>
#include <string>

#include <qarn/protlib/AddressReplacerID.h>
#include <qarn/protlib/ProtocolBase.h>
#include "MemoryManager.h"
#include "ParamManager.h"

class ISerialFactory;
class ISerialPort;
class Tag_QARN;

class Protocol_QARN : public ProtocolBase {
  public:
    Protocol_QARN();
    ~Protocol_QARN() override;

    // IInterface
    void* ConvertTo(const char* name) override;
    const char* GetImpName() const override { return "Protocol_QARN"; }
    int GetImpVersion() const override { return 100; }

    // IProtocol
    bool Config(const char* text) override;
    bool CanBeOptimized(const ITag* first, const ITag* second, bool flag) const override;
    bool Start() override;
    bool Stop() override;
    bool Write(const ITag* tag, const uint8_t* value) override;
    bool ReadBlock(const ITag* tag, uint8_t* raw, int length) override;
    const char* GetName() const override { return "QARN"; }
    int GetProtocolVersion() const override { return 114; }
    int GetProtocolType() const override { return 274; }
    const char* GetProtocolName() const override { return "Modbus Pelrosa"; }
    const char* GetXml() const override;
    int DoCommand(const char* command, char* reply, int size) override;
    int Extend(int code, void* data) override;

    // IProtocol4
    int GetNodeID(const ITag* tag) const override;

    // ProtocolBase hooks
    TagBase* CreateTagBase(const char* address) override;
    int GetMaxTm(const ITag* tag) const override;

    const _QARN::ParamManager& getParamManager() const { return paramManager; }
    const MemoryManager& getMemoryManager() const { return memoryManager; }
    // The node-id override table: (configured id, id put on the line).
    const AddressReplacerID& getReplacer() const { return replacer; }
    bool isStarted() const { return started; }
    int getInterCharTime() const { return interCharTime; }

    // Reads `count` bits or registers from the tag's offset into `work` in the raw layout.
    int doReadBlock(const Tag_QARN* tag, uint8_t* work, int count);
    // Writes `count` items of the raw image `image` with the tag's write function.
    int doWrite(const Tag_QARN* tag, const uint8_t* image, int count);
    // One write request for `count` items from item `index` of the tag.
    int writeItems(const Tag_QARN* tag, int index, const uint8_t* data, int count);

  private:
    // The node's delay, then the node actually addressed; false when it may not be addressed.
    bool prepareTransaction(const Tag_QARN* tag, bool write, uint8_t& node);
    // Sends `request` (with CRC) and receives a well-framed answer with a correct CRC,
    // repeating on link faults. A broadcast awaits nothing.
    bool doTransaction(const Tag_QARN* tag, const uint8_t* request, int length, bool broadcast,
                       uint8_t* answer, int& answerLength);
    uint8_t effectiveNode(const Tag_QARN* tag) const;
    // Changes the override table and its stored copy.
    void setOverride(int configured, int actual);
    void closePort();

    bool started = false;
    _QARN::ParamManager paramManager;
    MemoryManager memoryManager;
    std::string portName;
    int baudRate = 0;
    int dataBits = 0;
    int stopBits = 0;
    int parityCode = 0;
    int modeCode = 0;
    int interCharTime = 10;
    ISerialPort* port = nullptr;
    ISerialFactory* serialFactory = nullptr;
    AddressReplacerID replacer;
};

// A new, independent driver instance; the protocol factory hands it to the host.
IProtocol* CreateProtocol_QARN();
