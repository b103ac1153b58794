#include "PermanentStorage.h"

#include <qarn/host/IPermanentStorage.h>
#include <qarn/plugin/HostServices.h>

namespace PermanentStorage {

namespace {

// Contract of the extended store's copy operations.
constexpr int CopyBufferSize = 256;

IPermanentStorage2* extendedStore() {
    return static_cast<IPermanentStorage2*>(piPermanentStorage->ConvertTo("IPermanentStorage2"));
}

std::string orEmpty(const char* text) {
    return text != nullptr ? std::string(text) : std::string();
}

}  // namespace

std::string getString(const char* section, const char* key) {
    if (piPermanentStorage == nullptr) {
        return std::string();
    }
    if (IPermanentStorage2* store2 = extendedStore()) {
        char buffer[CopyBufferSize] = {};
        if (store2->CopyValue(section, key, buffer, CopyBufferSize) == 0) {
            return std::string();
        }
        buffer[CopyBufferSize - 1] = '\0';
        return std::string(buffer);
    }
    return orEmpty(piPermanentStorage->GetValue(section, key));
}

std::string getName(const char* section, int index) {
    if (piPermanentStorage == nullptr) {
        return std::string();
    }
    if (IPermanentStorage2* store2 = extendedStore()) {
        char buffer[CopyBufferSize] = {};
        if (store2->CopyValueName(section, index, buffer, CopyBufferSize) == 0) {
            return std::string();
        }
        buffer[CopyBufferSize - 1] = '\0';
        return std::string(buffer);
    }
    return orEmpty(piPermanentStorage->GetValueName(section, index));
}

}  // namespace PermanentStorage
