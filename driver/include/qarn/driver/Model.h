#pragma once
// A device model: its name and the memory types it can be addressed in.

#include <string>
#include <vector>

#include "MemoryType.h"

class Model {
  public:
    explicit Model(const std::string& modelName) : name(modelName) {}

    const std::string& getName() const { return name; }
    void setMaxDatagramLength(int value) { maxDatagramLength = value; }
    void setMaxDatagramItems(int value) { maxDatagramItems = value; }

    // A name already present keeps its first entry; the new one is dropped.
    void addMemoryType(const MemoryType& type);
    // The memory type so named (exact comparison), or null.
    const MemoryType* findMemoryType(const std::string& typeName) const;

  private:
    std::string name;
    int maxDatagramItems = 0;
    int maxDatagramLength = 0;
    std::vector<MemoryType> memoryTypes;
};
