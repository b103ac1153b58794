#include <qarn/driver/MemoryManager.h>

#include <cstddef>

namespace {

const char* const ModelNames[] = {"EM21", "EM24",    "EM26",    "WM30",
                                  "WM40", "ISMG1xx", "ISMG3xx", "GenericModbus"};
constexpr int ModelCount = static_cast<int>(sizeof(ModelNames) / sizeof(ModelNames[0]));

// Bit set of ModelNames indices.
constexpr unsigned EM21 = 1u << 0;
constexpr unsigned EM24 = 1u << 1;
constexpr unsigned EM26 = 1u << 2;
constexpr unsigned WM30 = 1u << 3;
constexpr unsigned WM40 = 1u << 4;
constexpr unsigned ISMG1 = 1u << 5;
constexpr unsigned ISMG3 = 1u << 6;
constexpr unsigned Generic = 1u << 7;
constexpr unsigned AllModels = (1u << ModelCount) - 1;

constexpr int BitTypes = 0x1001;        // boolean, boolean-
constexpr int RegisterTypes = 0xff7ff;  // boolean .. float-, without time, double-, 64-bit, object
constexpr int NodeByteTypes = 0x10;     // unsignedByte

// One registration step. Rows with the same name give that memory type per-model values; the
// first row of a name wins in every model it reaches, and the order of the rows is the order
// of the memory types inside each model.
struct CatalogueRow {
    const char* name;
    ICU_Type naturalType;
    int orbaTypes;
    bool readOnly;
    int minIndex;
    int maxIndex;
    int blockReadCount;
    unsigned models;
};

const CatalogueRow Catalogue[] = {
    {"INP", ICU_BOOLEAN, BitTypes, true, 100001, 165536, 16, Generic},
    {"OUTP", ICU_BOOLEAN, BitTypes, false, 1, 65536, 16, Generic},
    {"HREG", ICU_UNSIGNED_SHORT, RegisterTypes, false, 400001, 465535, 11, EM21 | EM24 | EM26},
    {"HREG", ICU_UNSIGNED_SHORT, RegisterTypes, false, 400001, 465535, 125, WM30 | WM40},
    {"HREG", ICU_UNSIGNED_SHORT, RegisterTypes, false, 400001, 465535, 15, ISMG1 | ISMG3 | Generic},
    {"IREG", ICU_UNSIGNED_SHORT, RegisterTypes, true, 300001, 365535, 11,
     EM21 | EM24 | EM26 | WM30 | WM40 | Generic},
    {"NO", ICU_UNSIGNED_BYTE, NodeByteTypes, false, 0, 0, 0, AllModels},
    {"SL", ICU_UNSIGNED_BYTE, NodeByteTypes, false, 1, 127, 0, ISMG1 | ISMG3},
};

// Fields a row leaves alone keep these values.
MemoryType templateType() {
    MemoryType type;
    type.setNaturalType(ICU_BOOLEAN);
    type.setOrbaTypes(BitTypes);
    type.setMinIndex(1);
    type.setMaxIndex(165536);
    type.setBlockReadCount(16);
    type.setBlockWriteCount(0);
    return type;
}

}  // namespace

void MemoryManager::addBuiltInModels() {
    std::vector<Model> built;
    built.reserve(ModelCount);
    for (const char* name : ModelNames) {
        built.emplace_back(name);
    }
    for (const CatalogueRow& row : Catalogue) {
        MemoryType type = templateType();
        type.setName(row.name);
        type.setNaturalType(row.naturalType);
        type.setOrbaTypes(row.orbaTypes);
        type.setReadOnly(row.readOnly);
        type.setMinIndex(row.minIndex);
        type.setMaxIndex(row.maxIndex);
        type.setBlockReadCount(row.blockReadCount);
        for (int i = 0; i < ModelCount; ++i) {
            if ((row.models & (1u << i)) != 0) {
                built[static_cast<size_t>(i)].addMemoryType(type);
            }
        }
    }
    for (Model& model : built) {
        model.setMaxDatagramItems(0);
        model.setMaxDatagramLength(0);
        addModel(model);
    }
}

const Model* MemoryManager::findModel(const std::string& name) const {
    for (const Model& model : models) {
        if (model.getName() == name) {
            return &model;
        }
    }
    return nullptr;
}

const Model* MemoryManager::getModel(const std::string& name) const {
    if (const Model* model = findModel(name)) {
        return model;
    }
    return models.empty() ? nullptr : &models.front();
}

const MemoryType* MemoryManager::getMemoryType(const std::string& modelName,
                                               const std::string& typeName) const {
    const Model* model = findModel(modelName);
    return model != nullptr ? model->findMemoryType(typeName) : nullptr;
}
