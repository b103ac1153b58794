#include "MemoryStore.h"

#include <cstring>
#include <iterator>

namespace qarntest {

namespace {

std::string text(const char* s) {
    return s != nullptr ? std::string(s) : std::string();
}

// The copy contract: the whole text and its NUL must fit, otherwise nothing is copied.
int copyOut(const std::string& source, char* buffer, int size) {
    if (buffer == nullptr || size <= 0 || source.size() + 1 > static_cast<std::size_t>(size)) {
        return 0;
    }
    std::memcpy(buffer, source.c_str(), source.size() + 1);
    return 1;
}

}  // namespace

MemoryStore::MemoryStore() : HostService("IPermanentStorage", "TestStore", 2) {}

void* MemoryStore::ConvertTo(const char* name) {
    if (name != nullptr && std::strcmp(name, "IPermanentStorage2") == 0) {
        return extended_ ? static_cast<IPermanentStorage2*>(this) : nullptr;
    }
    if (name != nullptr && std::strcmp(name, "IPermanentStorage") == 0) {
        return static_cast<IPermanentStorage*>(this);
    }
    return nullptr;
}

int MemoryStore::SetValue(const char* section, const char* key, const char* value) {
    record(Op::SetValue, section, key, -1, value != nullptr ? value : "");
    if (section == nullptr || key == nullptr || value == nullptr) {
        return 0;
    }
    put(section, key, value);
    return 1;
}

const char* MemoryStore::GetValue(const char* section, const char* key) {
    record(Op::GetValue, section, key, -1);
    const Entry* entry = findEntry(section, key);
    return entry != nullptr ? entry->value.c_str() : nullptr;
}

int MemoryStore::RemoveValue(const char* section, const char* key) {
    record(Op::RemoveValue, section, key, -1);
    Section* found = section != nullptr ? findSection(section) : nullptr;
    if (found == nullptr || key == nullptr) {
        return 0;
    }
    for (auto it = found->entries.begin(); it != found->entries.end(); ++it) {
        if (it->key == key) {
            found->entries.erase(it);
            return 1;
        }
    }
    return 0;
}

int MemoryStore::GetValueCount(const char* section) {
    record(Op::GetValueCount, section, nullptr, -1);
    const Section* found = section != nullptr ? findSection(section) : nullptr;
    return found != nullptr ? static_cast<int>(found->entries.size()) : 0;
}

const char* MemoryStore::GetValueName(const char* section, int index) {
    record(Op::GetValueName, section, nullptr, index);
    const Entry* entry = entryAt(section, index);
    return entry != nullptr ? entry->key.c_str() : nullptr;
}

int MemoryStore::CopyValue(const char* section, const char* key, char* buffer, int size) {
    record(Op::CopyValue, section, key, -1, "", size);
    const Entry* entry = findEntry(section, key);
    return entry != nullptr ? copyOut(entry->value, buffer, size) : 0;
}

int MemoryStore::CopyValueName(const char* section, int index, char* buffer, int size) {
    record(Op::CopyValueName, section, nullptr, index, "", size);
    const Entry* entry = entryAt(section, index);
    return entry != nullptr ? copyOut(entry->key, buffer, size) : 0;
}

void MemoryStore::put(const std::string& section, const std::string& key,
                      const std::string& value) {
    Section* found = findSection(section);
    if (found == nullptr) {
        sections_.push_back({section, {}});
        found = &sections_.back();
    }
    for (Entry& entry : found->entries) {
        if (entry.key == key) {
            entry.value = value;  // keeps its place in the key order
            return;
        }
    }
    found->entries.push_back({key, value});
}

std::optional<std::string> MemoryStore::value(const std::string& section,
                                              const std::string& key) const {
    const Entry* entry = findEntry(section.c_str(), key.c_str());
    if (entry == nullptr) {
        return std::nullopt;
    }
    return entry->value;
}

std::vector<std::string> MemoryStore::keys(const std::string& section) const {
    std::vector<std::string> names;
    if (const Section* found = findSection(section)) {
        for (const Entry& entry : found->entries) {
            names.push_back(entry.key);
        }
    }
    return names;
}

MemoryStore::Section* MemoryStore::findSection(const std::string& name) {
    for (Section& section : sections_) {
        if (section.name == name) {
            return &section;
        }
    }
    return nullptr;
}

const MemoryStore::Section* MemoryStore::findSection(const std::string& name) const {
    for (const Section& section : sections_) {
        if (section.name == name) {
            return &section;
        }
    }
    return nullptr;
}

const MemoryStore::Entry* MemoryStore::findEntry(const char* section, const char* key) const {
    const Section* found = section != nullptr ? findSection(section) : nullptr;
    if (found == nullptr || key == nullptr) {
        return nullptr;
    }
    for (const Entry& entry : found->entries) {
        if (entry.key == key) {
            return &entry;
        }
    }
    return nullptr;
}

const MemoryStore::Entry* MemoryStore::entryAt(const char* section, int index) const {
    const Section* found = section != nullptr ? findSection(section) : nullptr;
    if (found == nullptr || index < 0 || static_cast<std::size_t>(index) >= found->entries.size()) {
        return nullptr;
    }
    auto it = found->entries.begin();
    std::advance(it, index);
    return &*it;
}

void MemoryStore::record(Op op, const char* section, const char* key, int index, const char* value,
                         int bufferSize) {
    calls_.push_back({op, text(section), text(key), index, text(value), bufferSize});
}

}  // namespace qarntest
