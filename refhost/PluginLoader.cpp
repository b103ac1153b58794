#include <qarn/refhost/PluginLoader.h>

#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <qarn/host/IInterfaceFactory.h>
#include <qarn/host/IProtModule.h>
#include <qarn/host/IProtocol.h>
#include <qarn/host/IProtocolFactory.h>

namespace refhost {

namespace {
using EntryPoint = IInterfaceFactory* (*)();
}

PluginLoader::~PluginLoader() {
    unload();
}

bool PluginLoader::fail(const std::string& text) {
    error_ = text;
    unload();
    return false;
}

bool PluginLoader::load(const std::string& path, IInterfaceFactory& host) {
    unload();
    path_ = path;
    error_.clear();
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        return fail("plug-in " + path + ": " + std::strerror(errno));
    }
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* why = dlerror();
        return fail("plug-in " + path + " cannot be loaded: " + (why != nullptr ? why : "?"));
    }
    dlerror();
    void* symbol = dlsym(handle_, "GetInterfaceFactory");
    if (symbol == nullptr) {
        return fail("plug-in " + path + " has no entry point GetInterfaceFactory");
    }
    EntryPoint entry = nullptr;
    static_assert(sizeof entry == sizeof symbol, "function and object pointers differ");
    std::memcpy(&entry, &symbol, sizeof entry);
    pluginFactory_ = entry();
    if (pluginFactory_ == nullptr) {
        return fail("plug-in " + path + ": GetInterfaceFactory returned no factory");
    }
    module_ = static_cast<IProtModule*>(pluginFactory_->CreateInterface("IProtModule"));
    if (module_ == nullptr) {
        return fail("plug-in " + path + " offers no IProtModule");
    }
    if (!module_->Init(&host)) {
        const char* why = module_->GetLastError();
        return fail("plug-in module initialisation failed: " +
                    std::string(why != nullptr && why[0] != '\0' ? why : "no reason given"));
    }
    moduleInitialised_ = true;
    factory_ = static_cast<IProtocolFactory*>(pluginFactory_->CreateInterface("IProtocolFactory"));
    if (factory_ == nullptr) {
        return fail("plug-in " + path + " offers no IProtocolFactory");
    }
    return true;
}

IProtocol* PluginLoader::createProtocol(const char* name) {
    if (factory_ == nullptr) {
        error_ = "no plug-in loaded";
        return nullptr;
    }
    IProtocol* protocol = factory_->CreateProtocol(name);
    if (protocol == nullptr) {
        error_ = "plug-in " + path_ + " does not create the protocol " + name;
        return nullptr;
    }
    protocols_.push_back(protocol);
    return protocol;
}

void PluginLoader::deleteProtocol(IProtocol* protocol) {
    const auto it = std::find(protocols_.begin(), protocols_.end(), protocol);
    if (it == protocols_.end()) {
        return;
    }
    protocols_.erase(it);
    protocol->Stop();
    factory_->DeleteProtocol(protocol);
}

void PluginLoader::unload() {
    while (!protocols_.empty()) {
        deleteProtocol(protocols_.back());
    }
    if (module_ != nullptr && moduleInitialised_) {
        module_->Close();
    }
    if (pluginFactory_ != nullptr) {
        if (factory_ != nullptr) {
            pluginFactory_->ReleaseInterface(factory_);
        }
        if (module_ != nullptr) {
            pluginFactory_->ReleaseInterface(module_);
        }
    }
    factory_ = nullptr;
    module_ = nullptr;
    moduleInitialised_ = false;
    pluginFactory_ = nullptr;
    if (handle_ != nullptr) {
        dlclose(handle_);
        handle_ = nullptr;
    }
}

}  // namespace refhost
