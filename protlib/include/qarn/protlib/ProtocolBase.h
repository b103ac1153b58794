#pragma once
// Base of every protocol of the library: default answers for the whole protocol interface, the
// tag list, the last error, and the generic read paths built on a driver's ReadBlock.

#include <cstdint>
#include <list>
#include <string>

#include <qarn/host/ErrorCodes.h>
#include <qarn/host/IProtocol.h>

class TagBase;

// Wall-clock milliseconds since 1970-01-01 UTC.
uint64_t currentTimeStamp();

class ProtocolBase : public IProtocol7 {
  public:
    ProtocolBase();
    ~ProtocolBase() override;
    ProtocolBase(const ProtocolBase&) = delete;
    ProtocolBase& operator=(const ProtocolBase&) = delete;

    // IInterface
    void* ConvertTo(const char* name) override;

    // IProtocol
    bool Config(const char* text) override = 0;
    ITag* CreateTag(const char* address) override;
    void FreeTag(ITag* tag) override;
    bool CanBeOptimized(const ITag* first, const ITag* second, bool flag) const override = 0;
    bool Start() override;
    bool Stop() override;
    bool Read(const ITag* tag, uint8_t* value) override;
    bool Write(const ITag* tag, const uint8_t* value) override = 0;
    bool ReadBlock(const ITag* tag, uint8_t* raw, int length) override = 0;
    bool WriteBlock(const ITag* tag, const uint8_t* raw, int length) override;
    int MaxDatagramItems(const ITag* tag) const override;
    int MaxDatagramLength(const ITag* tag) const override;
    bool CanCoexistInDatagram(const ITag* first, const ITag* second) const override;
    bool ReadDatagram(const ITag* const* tags, int count, uint8_t* raw) override;
    const char* GetName() const override = 0;
    const char* GetNextInstanceName() const override;
    int GetLastError() const override;
    const char* GetLastErrorString() const override;
    int GetProtocolVersion() const override = 0;
    int GetProtocolType() const override = 0;
    const char* GetProtocolName() const override = 0;
    int GetInfo(char* buffer, int size) const override;
    const char* GetXml() const override;
    bool IsConverted() const override;
    const char* GetIdent() const override;
    void SetIdent(const char* name) override;
    int DoCommand(const char* command, char* reply, int size) override;
    int Extend(int code, void* data) override;

    // IProtocol2
    bool CanAddToDatagram(const ITag* const* tags, int count, const ITag* tag) override;
    bool ReadDatagramWithStatus(const ITag* const* tags, int count, uint8_t* raw,
                                idal_error_t* status) override;

    // IProtocol3
    bool MultipleReadSupported() const override;
    bool MultipleRead(IMultiRead* request) override;
    bool MultipleWriteSupported() const override;
    bool MultipleWrite(IMultiWrite* request) override;

    // IProtocol4
    int GetNodeID(const ITag* tag) const override = 0;
    bool CanReadBitBlock(const ITag* tag) const override;
    bool ReadBitBlock(const ITag* tag, uint8_t* raw, int bits) override;
    void* GetInterface(const char* name) override;
    int MaxUnusedGap(const ITag* tag) const override;
    bool IsBefore(const ITag* first, const ITag* second) const override;
    bool IsAdjacent(const ITag* first, const ITag* second) const override;
    bool NeedsReadBeforeWrite(const ITag* tag) const override;
    bool CanWriteDatagrams(const ITag* tag) const override;
    bool CanAddToWriteDatagram(const ITag* const* tags, int count, const ITag* tag) const override;
    bool WriteDatagramWithStatus(const ITag* const* tags, int count, const uint8_t* raw,
                                 idal_error_t* status) override;
    bool CanWriteBitBlock(const ITag* tag) const override;
    bool WriteBitBlock(const ITag* tag, const uint8_t* raw, int bits) override;

    // IProtocol5
    bool readObject(const ITag* tag, IObjectString* object) override;
    bool writeObject(const ITag* tag, const IObjectString* object) override;
    int vcsGetCapability() const override;
    int vcsGetComParams(char* buffer, int size) const override;
    int vcsActivateInterleaved(unsigned short mode) override;

    // IProtocol6
    IEventChannel* createEventChannel(int kind) override;
    IEventChannel* createEventChannel(IEventProcessor* processor) override;
    void deleteEventChannel(IEventChannel* channel) override;
    bool addEventSource(IEventChannel* channel, const char* source) override;
    bool addAlarmEvents(IEventChannel* channel, IAlarm* alarm) override;
    void* frontEvent(IEventChannel* channel) override;
    void popEvent(IEventChannel* channel) override;
    IAlarm* createAlarm(const char* name) override;
    void deleteAlarm(IAlarm* alarm) override;
    int listAlarms(IAlarmProcessor* processor) override;
    int quitAlarm(IAlarm* alarm) override;
    ITrend* createTrend(const char* name) override;
    void deleteTrend(ITrend* trend) override;
    int readTrend(ITrend* trend, uint64_t from, uint64_t to, uint64_t& next, unsigned int maxCount,
                  bool backwards, ITrendProcessor* processor) override;
    bool hasPlcTimestamp(const ITag* tag) override;
    bool readWithTimestamp(const ITag* tag, uint8_t* value, uint64_t* stamp) override;
    bool readBlockWithTimestamp(const ITag* tag, uint8_t* raw, int length,
                                uint64_t* stamp) override;
    bool readDatagramWithTimestamp(const ITag* const* tags, int count, uint8_t* raw,
                                   idal_error_t* status, uint64_t* stamps) override;

    // IProtocol7
    int getTagUriFieldCount() const override;
    const char* getTagUriFieldName(int index) const override;
    int getTagUriFieldPosition(const char* name) const override;
    const char* getTagUriField(const ITag* tag, int index, int* length) const override;
    bool readArrayItem(const ITag* tag, int index, uint8_t* item) override;
    bool writeArrayItem(const ITag* tag, int index, const uint8_t* item) override;
    bool readBitBlockWithTimestamp(const ITag* tag, uint8_t* raw, int bits,
                                   uint64_t* stamp) override;

    // Own hooks for the driver, after the interface slots.
    // Builds a tag from its address string, or records why not and returns null.
    virtual TagBase* CreateTagBase(const char* address) = 0;
    // Longest time in ms that one read or write access may take; null asks for the protocol.
    virtual int GetMaxTm(const ITag* tag) const = 0;
    // Tag address field names, closed by a null entry.
    virtual const char* const* tagUriNames() const;

    void SetError(int code, const char* text);
    // ErrorCode::Refused, "Tag URI error: <address> - <tag's own error text>".
    void SetTagError(const TagBase* tag);
    void DeleteTags();

  private:
    std::list<TagBase*> tags;
    int32_t lastErrorCode = ErrorCode::NoErrorYet;
    std::string lastErrorText;
    std::string ident;
};
