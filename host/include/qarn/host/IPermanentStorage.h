#pragma once

#include "IInterface.h"

// The host's permanent key/value store, organised in sections. Unused slots keep the used
// operations at the host's slot numbers.
class IPermanentStorage : public IInterface {
  public:
    virtual int SetValue(const char* section, const char* key, const char* value) = 0;  // 1
    virtual void unusedSlot2() {}                                                       // 2
    virtual void unusedSlot3() {}                                                       // 3
    virtual const char* GetValue(const char* section, const char* key) = 0;             // 4
    virtual void unusedSlot5() {}                                                       // 5
    virtual void unusedSlot6() {}                                                       // 6
    virtual void unusedSlot7() {}                                                       // 7
    virtual int RemoveValue(const char* section, const char* key) = 0;                  // 8
    virtual int GetValueCount(const char* section) = 0;                                 // 9
    virtual const char* GetValueName(const char* section, int index) = 0;               // 10
};

// Extended store: copies into the caller's buffer instead of handing out internal pointers.
// Reached through ConvertTo("IPermanentStorage2").
class IPermanentStorage2 : public IPermanentStorage {
  public:
    // Nonzero when copied, NUL-terminated, into `buffer` of `size` bytes.
    virtual int CopyValue(const char* section, const char* key, char* buffer, int size) = 0;  // 11
    virtual int CopyValueName(const char* section, int index, char* buffer, int size) = 0;    // 12
};
