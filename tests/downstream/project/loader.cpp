// Loads the installed plug-in the way a host starts to: the entry point, the factory and the
// module's identity. Exit status 0 when all of it is there.

#include <dlfcn.h>

#include <cstdio>
#include <cstring>

#include <qarn/host/IInterface.h>
#include <qarn/host/IInterfaceFactory.h>
#include <qarn/host/IProtModule.h>

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : QARN_PLUGIN;
    void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        std::fprintf(stderr, "cannot load %s: %s\n", path, dlerror());
        return 1;
    }
    void* symbol = dlsym(handle, "GetInterfaceFactory");
    if (symbol == nullptr) {
        std::fprintf(stderr, "%s has no GetInterfaceFactory\n", path);
        return 1;
    }
    using Entry = IInterfaceFactory* (*)();
    Entry entry = nullptr;
    std::memcpy(&entry, &symbol, sizeof entry);
    IInterfaceFactory* factory = entry();
    IInterface* module = factory != nullptr ? factory->CreateInterface("IProtModule") : nullptr;
    if (module == nullptr) {
        std::fprintf(stderr, "%s offers no IProtModule\n", path);
        return 1;
    }
    std::printf("%s: %s v.%d\n", path, module->GetImpName(), module->GetImpVersion());
    factory->ReleaseInterface(module);
    dlclose(handle);
    return 0;
}
