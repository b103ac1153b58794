#pragma once
// Permanent store double: keys per section in insertion order, in memory. The extended store can
// be switched off, as an older host has none. Texts handed out stay valid until the next change.

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <qarn/host/IPermanentStorage.h>
#include "HostService.h"

namespace qarntest {

class MemoryStore : public HostService<IPermanentStorage2> {
  public:
    MemoryStore() : HostService("IPermanentStorage", "TestStore", 2) {}

    void* ConvertTo(const char* name) override {
        if (name != nullptr && std::strcmp(name, "IPermanentStorage2") == 0) {
            return extended ? static_cast<IPermanentStorage2*>(this) : nullptr;
        }
        return HostService::ConvertTo(name);
    }
    int SetValue(const char* section, const char* key, const char* value) override {
        put(section, key, value);
        return 1;
    }
    const char* GetValue(const char* section, const char* key) override {
        const auto entry = find(section, key);
        return entry != sections_[section].end() ? entry->second.c_str() : nullptr;
    }
    int RemoveValue(const char* section, const char* key) override {
        const auto entry = find(section, key);
        const bool found = entry != sections_[section].end();
        if (found) {
            sections_[section].erase(entry);
        }
        return found ? 1 : 0;
    }
    int GetValueCount(const char* section) override {
        return static_cast<int>(sections_[section].size());
    }
    const char* GetValueName(const char* section, int index) override {
        const Keys& keys = sections_[section];
        return index >= 0 && index < static_cast<int>(keys.size()) ? keys[index].first.c_str()
                                                                   : nullptr;
    }
    int CopyValue(const char* section, const char* key, char* buffer, int size) override {
        return copyOut(GetValue(section, key), buffer, size);
    }
    int CopyValueName(const char* section, int index, char* buffer, int size) override {
        return copyOut(GetValueName(section, index), buffer, size);
    }

    void put(const std::string& section, const std::string& key, const std::string& value) {
        const auto entry = find(section, key);
        if (entry != sections_[section].end()) {
            entry->second = value;  // keeps its place in the key order
        } else {
            sections_[section].emplace_back(key, value);
        }
    }

    bool extended = true;

  private:
    using Keys = std::vector<std::pair<std::string, std::string>>;  // key, value
    Keys::iterator find(const std::string& section, const std::string& key) {
        Keys& keys = sections_[section];
        return std::find_if(keys.begin(), keys.end(),
                            [&](const auto& e) { return e.first == key; });
    }
    // The copy contract: the whole text and its NUL fit, or nothing is copied.
    static int copyOut(const char* text, char* buffer, int size) {
        const bool fits = text != nullptr && static_cast<int>(std::strlen(text)) < size;
        return fits && std::memcpy(buffer, text, std::strlen(text) + 1) != nullptr ? 1 : 0;
    }

    std::map<std::string, Keys> sections_;
};

}  // namespace qarntest
