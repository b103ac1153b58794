#include <qarn/refhost/HostFactory.h>

#include <cstring>

#include <qarn/refhost/FileStore.h>

namespace refhost {

HostFactory::HostFactory() = default;

HostFactory::~HostFactory() = default;

void HostFactory::setStore(std::unique_ptr<FileStore> store) {
    store_ = std::move(store);
}

IInterface* HostFactory::CreateInterface(const char* name) {
    if (name == nullptr || withheld_.count(name) != 0) {
        return nullptr;
    }
    const struct {
        const char* name;
        IInterface* service;
    } services[] = {
        {"IMultiTask2", &multiTask_},
        {"ISerialFactory", &serialFactory_},
        {"ISocketFactory", &socketFactory_},
        {"ICDSBuffer", &cdsBuffer_},
        {"IDiag", &diag_},
        {"IPermanentStorage", store_.get()},
        {"IDriverInterface", &driverInterface_},
        {"ISmux", &smux_},
        {"IFastTimer", &fastTimer_},
    };
    for (const auto& s : services) {
        if (std::strcmp(name, s.name) == 0) {
            if (s.service != nullptr) {
                ++outstanding_;
            }
            return s.service;
        }
    }
    return nullptr;
}

void HostFactory::ReleaseInterface(IInterface* object) {
    if (object != nullptr) {
        --outstanding_;
    }
}

}  // namespace refhost
