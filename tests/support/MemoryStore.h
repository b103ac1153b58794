#pragma once
// Permanent store double: keys per section in insertion order, held in memory. Offers the
// extended store unless that is switched off (ConvertTo("IPermanentStorage2") then answers null,
// as an older host does). Texts handed out stay valid until the next change.

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "HostService.h"
#include "IPermanentStorage.h"

namespace qarntest {

class MemoryStore : public HostService<IPermanentStorage2> {
  public:
    MemoryStore() : HostService("IPermanentStorage", "TestStore", 2) {}

    void* ConvertTo(const char* name) override {
        if (name != nullptr && std::strcmp(name, "IPermanentStorage2") == 0) {
            return extended_ ? static_cast<IPermanentStorage2*>(this) : nullptr;
        }
        return HostService::ConvertTo(name);
    }
    int SetValue(const char* section, const char* key, const char* value) override {
        if (section == nullptr || key == nullptr || value == nullptr) {
            return 0;
        }
        put(section, key, value);
        return 1;
    }
    const char* GetValue(const char* section, const char* key) override {
        const Entry* entry = find(section, key);
        return entry != nullptr ? entry->value.c_str() : nullptr;
    }
    int RemoveValue(const char* section, const char* key) override {
        const Entry* entry = find(section, key);
        if (entry != nullptr) {
            entries_.erase(entries_.begin() + (entry - entries_.data()));
        }
        return entry != nullptr ? 1 : 0;
    }
    int GetValueCount(const char* section) override {
        int count = 0;
        while (at(section, count) != nullptr) {
            ++count;
        }
        return count;
    }
    const char* GetValueName(const char* section, int index) override {
        const Entry* entry = at(section, index);
        return entry != nullptr ? entry->key.c_str() : nullptr;
    }
    // The copy contract: the whole text and its NUL must fit, otherwise nothing is copied.
    int CopyValue(const char* section, const char* key, char* buffer, int size) override {
        return copyOut(GetValue(section, key), buffer, size);
    }
    int CopyValueName(const char* section, int index, char* buffer, int size) override {
        return copyOut(GetValueName(section, index), buffer, size);
    }

    // Test side.
    void setExtended(bool offered) { extended_ = offered; }
    void put(const std::string& section, const std::string& key, const std::string& value) {
        if (const Entry* entry = find(section.c_str(), key.c_str())) {
            const_cast<Entry*>(entry)->value = value;  // keeps its place in the key order
        } else {
            entries_.push_back({section, key, value});
        }
    }
    std::optional<std::string> value(const std::string& section, const std::string& key) const {
        const Entry* entry = find(section.c_str(), key.c_str());
        return entry != nullptr ? std::optional<std::string>(entry->value) : std::nullopt;
    }

  private:
    struct Entry {
        std::string section;
        std::string key;
        std::string value;
    };
    const Entry* find(const char* section, const char* key) const {
        for (const Entry& entry : entries_) {
            if (section != nullptr && key != nullptr && entry.section == section &&
                entry.key == key) {
                return &entry;
            }
        }
        return nullptr;
    }
    // The index-th key of the section.
    const Entry* at(const char* section, int index) const {
        for (const Entry& entry : entries_) {
            if (section != nullptr && entry.section == section && index-- == 0) {
                return &entry;
            }
        }
        return nullptr;
    }
    static int copyOut(const char* text, char* buffer, int size) {
        if (text == nullptr || buffer == nullptr || size <= 0 ||
            std::strlen(text) + 1 > static_cast<std::size_t>(size)) {
            return 0;
        }
        std::memcpy(buffer, text, std::strlen(text) + 1);
        return 1;
    }

    bool extended_ = true;
    std::vector<Entry> entries_;  // every section, in insertion order
};

}  // namespace qarntest
