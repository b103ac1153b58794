#pragma once
// The protocol interface, IProtocol to IProtocol7. All versions are one object with one table of
// virtual operations; the host calls by slot, so the order of every declaration below is part of
// the binary contract. Each version only appends to the one before it.

#include <cstdint>

#include "HostTypes.h"
#include "IInterface.h"
#include "ITag.h"

class IProtocol : public IInterface {
  public:
    virtual bool Config(const char* text) = 0;         // 1
    virtual ITag* CreateTag(const char* address) = 0;  // 2
    virtual void FreeTag(ITag* tag) = 0;               // 3
    virtual bool CanBeOptimized(const ITag* first, const ITag* second,
                                bool flag) const = 0;                                    // 4
    virtual bool Start() = 0;                                                            // 5
    virtual bool Stop() = 0;                                                             // 6
    virtual bool Read(const ITag* tag, uint8_t* value) = 0;                              // 7
    virtual bool Write(const ITag* tag, const uint8_t* value) = 0;                       // 8
    virtual bool ReadBlock(const ITag* tag, uint8_t* raw, int length) = 0;               // 9
    virtual bool WriteBlock(const ITag* tag, const uint8_t* raw, int length) = 0;        // 10
    virtual int MaxDatagramItems(const ITag* tag) const = 0;                             // 11
    virtual int MaxDatagramLength(const ITag* tag) const = 0;                            // 12
    virtual bool CanCoexistInDatagram(const ITag* first, const ITag* second) const = 0;  // 13
    virtual bool ReadDatagram(const ITag* const* tags, int count, uint8_t* raw) = 0;     // 14
    virtual const char* GetName() const = 0;                                             // 15
    virtual const char* GetNextInstanceName() const = 0;                                 // 16
    virtual int GetLastError() const = 0;                                                // 17
    virtual const char* GetLastErrorString() const = 0;                                  // 18
    virtual int GetProtocolVersion() const = 0;                                          // 19
    virtual int GetProtocolType() const = 0;                                             // 20
    virtual const char* GetProtocolName() const = 0;                                     // 21
    virtual int GetInfo(char* buffer, int size) const = 0;                               // 22
    virtual const char* GetXml() const = 0;                                              // 23
    virtual bool IsConverted() const = 0;                                                // 24
    virtual const char* GetIdent() const = 0;                                            // 25
    virtual void SetIdent(const char* name) = 0;                                         // 26
    virtual int DoCommand(const char* command, char* reply, int size) = 0;               // 27
    virtual int Extend(int code, void* data) = 0;                                        // 28
};

class IProtocol2 : public IProtocol {
  public:
    virtual bool CanAddToDatagram(const ITag* const* tags, int count, const ITag* tag) = 0;  // 29
    virtual bool ReadDatagramWithStatus(const ITag* const* tags, int count, uint8_t* raw,
                                        idal_error_t* status) = 0;  // 30
};

class IProtocol3 : public IProtocol2 {
  public:
    virtual bool MultipleReadSupported() const = 0;        // 31
    virtual bool MultipleRead(IMultiRead* request) = 0;    // 32
    virtual bool MultipleWriteSupported() const = 0;       // 33
    virtual bool MultipleWrite(IMultiWrite* request) = 0;  // 34
};

class IProtocol4 : public IProtocol3 {
  public:
    virtual int GetNodeID(const ITag* tag) const = 0;                          // 35
    virtual bool CanReadBitBlock(const ITag* tag) const = 0;                   // 36
    virtual bool ReadBitBlock(const ITag* tag, uint8_t* raw, int bits) = 0;    // 37
    virtual void* GetInterface(const char* name) = 0;                          // 38
    virtual int MaxUnusedGap(const ITag* tag) const = 0;                       // 39
    virtual bool IsBefore(const ITag* first, const ITag* second) const = 0;    // 40
    virtual bool IsAdjacent(const ITag* first, const ITag* second) const = 0;  // 41
    virtual bool NeedsReadBeforeWrite(const ITag* tag) const = 0;              // 42
    virtual bool CanWriteDatagrams(const ITag* tag) const = 0;                 // 43
    virtual bool CanAddToWriteDatagram(const ITag* const* tags, int count,
                                       const ITag* tag) const = 0;  // 44
    virtual bool WriteDatagramWithStatus(const ITag* const* tags, int count, const uint8_t* raw,
                                         idal_error_t* status) = 0;                 // 45
    virtual bool CanWriteBitBlock(const ITag* tag) const = 0;                       // 46
    virtual bool WriteBitBlock(const ITag* tag, const uint8_t* raw, int bits) = 0;  // 47
};

class IProtocol5 : public IProtocol4 {
  public:
    virtual bool readObject(const ITag* tag, IObjectString* object) = 0;         // 48
    virtual bool writeObject(const ITag* tag, const IObjectString* object) = 0;  // 49
    virtual int vcsGetCapability() const = 0;                                    // 50
    virtual int vcsGetComParams(char* buffer, int size) const = 0;               // 51
    virtual int vcsActivateInterleaved(unsigned short mode) = 0;                 // 52
};

class IProtocol6 : public IProtocol5 {
  public:
    virtual IEventChannel* createEventChannel(int kind) = 0;                      // 53
    virtual IEventChannel* createEventChannel(IEventProcessor* processor) = 0;    // 54
    virtual void deleteEventChannel(IEventChannel* channel) = 0;                  // 55
    virtual bool addEventSource(IEventChannel* channel, const char* source) = 0;  // 56
    virtual bool addAlarmEvents(IEventChannel* channel, IAlarm* alarm) = 0;       // 57
    virtual void* frontEvent(IEventChannel* channel) = 0;                         // 58
    virtual void popEvent(IEventChannel* channel) = 0;                            // 59
    virtual IAlarm* createAlarm(const char* name) = 0;                            // 60
    virtual void deleteAlarm(IAlarm* alarm) = 0;                                  // 61
    virtual int listAlarms(IAlarmProcessor* processor) = 0;                       // 62
    virtual int quitAlarm(IAlarm* alarm) = 0;                                     // 63
    virtual ITrend* createTrend(const char* name) = 0;                            // 64
    virtual void deleteTrend(ITrend* trend) = 0;                                  // 65
    virtual int readTrend(ITrend* trend, uint64_t from, uint64_t to, uint64_t& next,
                          unsigned int maxCount, bool backwards,
                          ITrendProcessor* processor) = 0;                                 // 66
    virtual bool hasPlcTimestamp(const ITag* tag) = 0;                                     // 67
    virtual bool readWithTimestamp(const ITag* tag, uint8_t* value, uint64_t* stamp) = 0;  // 68
    virtual bool readBlockWithTimestamp(const ITag* tag, uint8_t* raw, int length,
                                        uint64_t* stamp) = 0;  // 69
    virtual bool readDatagramWithTimestamp(const ITag* const* tags, int count, uint8_t* raw,
                                           idal_error_t* status, uint64_t* stamps) = 0;  // 70
};

class IProtocol7 : public IProtocol6 {
  public:
    virtual int getTagUriFieldCount() const = 0;                                            // 71
    virtual const char* getTagUriFieldName(int index) const = 0;                            // 72
    virtual int getTagUriFieldPosition(const char* name) const = 0;                         // 73
    virtual const char* getTagUriField(const ITag* tag, int index, int* length) const = 0;  // 74
    virtual bool readArrayItem(const ITag* tag, int index, uint8_t* item) = 0;              // 75
    virtual bool writeArrayItem(const ITag* tag, int index, const uint8_t* item) = 0;       // 76
    virtual bool readBitBlockWithTimestamp(const ITag* tag, uint8_t* raw, int bits,
                                           uint64_t* stamp) = 0;  // 77
};
