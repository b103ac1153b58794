#pragma once
// Permanent store double: sections of keys in insertion order, held in memory. Implements the
// extended store; switching that off makes ConvertTo("IPermanentStorage2") answer null, as an
// older host does. Every call through the host interface is recorded.

#include <list>
#include <optional>
#include <string>
#include <vector>

#include "HostService.h"
#include "IPermanentStorage.h"

namespace qarntest {

class MemoryStore : public HostService<IPermanentStorage2> {
  public:
    enum class Op {
        SetValue,
        GetValue,
        RemoveValue,
        GetValueCount,
        GetValueName,
        CopyValue,
        CopyValueName
    };
    struct Call {
        Op op;
        std::string section;
        std::string key;    // empty for the operations that take an index
        int index;          // -1 for the operations that take a key
        std::string value;  // SetValue only
        int bufferSize;     // the Copy operations only
    };

    MemoryStore();

    void* ConvertTo(const char* name) override;

    int SetValue(const char* section, const char* key, const char* value) override;
    const char* GetValue(const char* section, const char* key) override;
    int RemoveValue(const char* section, const char* key) override;
    int GetValueCount(const char* section) override;
    const char* GetValueName(const char* section, int index) override;
    int CopyValue(const char* section, const char* key, char* buffer, int size) override;
    int CopyValueName(const char* section, int index, char* buffer, int size) override;

    // Test side: nothing below is recorded.
    void setExtended(bool offered) { extended_ = offered; }
    void put(const std::string& section, const std::string& key, const std::string& value);
    std::optional<std::string> value(const std::string& section, const std::string& key) const;
    std::vector<std::string> keys(const std::string& section) const;
    const std::vector<Call>& calls() const { return calls_; }
    void clearCalls() { calls_.clear(); }

  private:
    struct Entry {
        std::string key;
        std::string value;
    };
    struct Section {
        std::string name;
        // A list keeps the pointers that GetValue and GetValueName hand out valid while other
        // keys come and go.
        std::list<Entry> entries;
    };

    Section* findSection(const std::string& name);
    const Section* findSection(const std::string& name) const;
    const Entry* findEntry(const char* section, const char* key) const;
    const Entry* entryAt(const char* section, int index) const;
    void record(Op op, const char* section, const char* key, int index, const char* value = "",
                int bufferSize = 0);

    bool extended_ = true;
    std::list<Section> sections_;
    std::vector<Call> calls_;
};

}  // namespace qarntest
