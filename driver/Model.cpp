#include <qarn/driver/Model.h>

void Model::addMemoryType(const MemoryType& type) {
    if (findMemoryType(type.getName()) == nullptr) {
        memoryTypes.push_back(type);
    }
}

const MemoryType* Model::findMemoryType(const std::string& typeName) const {
    for (const MemoryType& type : memoryTypes) {
        if (type.isNamed(typeName)) {
            return &type;
        }
    }
    return nullptr;
}
