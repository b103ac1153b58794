#pragma once
// Loads a protocol plug-in and drives it as the host does: GetInterfaceFactory, the module's Init
// with our host factory, the protocol factory, CreateProtocol; and tears it down in order: Stop
// and DeleteProtocol for each protocol still alive, the module's Close, dlclose.

#include <string>
#include <vector>

class IInterfaceFactory;
class IProtModule;
class IProtocol;
class IProtocolFactory;

namespace refhost {

class PluginLoader {
  public:
    PluginLoader() = default;
    ~PluginLoader();
    PluginLoader(const PluginLoader&) = delete;
    PluginLoader& operator=(const PluginLoader&) = delete;

    // Loads `path` and initialises its module with `host`, which must outlive the loader. False
    // with error() telling what was missing (file, entry point, interface, the module's own
    // reason).
    bool load(const std::string& path, IInterfaceFactory& host);
    // A new protocol instance; null with error() when the plug-in has none of that name.
    IProtocol* createProtocol(const char* name = "QARN");
    // Stops and deletes one instance made by createProtocol.
    void deleteProtocol(IProtocol* protocol);
    // The orderly tear-down; also done by the destructor.
    void unload();

    bool loaded() const { return handle_ != nullptr; }
    const std::string& error() const { return error_; }
    const std::string& path() const { return path_; }
    IProtModule* module() const { return module_; }
    IProtocolFactory* protocolFactory() const { return factory_; }

  private:
    bool fail(const std::string& text);

    void* handle_ = nullptr;
    std::string path_;
    std::string error_;
    IInterfaceFactory* pluginFactory_ = nullptr;
    IProtModule* module_ = nullptr;
    bool moduleInitialised_ = false;
    IProtocolFactory* factory_ = nullptr;
    std::vector<IProtocol*> protocols_;
};

}  // namespace refhost
