#pragma once
// The device catalogue: every known model with its memory types. Filled once when a protocol
// instance is built and constant afterwards, so tags may keep pointers into it.

#include <string>
#include <vector>

#include "Model.h"

class MemoryManager {
  public:
    // Registers the driver's own device models.
    void addBuiltInModels();

    // Appends a copy; a duplicate name is accepted (lookups find the first).
    void addModel(const Model& model) { models.push_back(model); }
    // The model so named; otherwise the first registered model; null only when there is none.
    const Model* getModel(const std::string& name) const;
    // The memory type of the model so named, without the fall-back of getModel.
    const MemoryType* getMemoryType(const std::string& modelName,
                                    const std::string& typeName) const;

  private:
    const Model* findModel(const std::string& name) const;

    std::vector<Model> models;
};
