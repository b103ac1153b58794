#pragma once
// What the host touches before it holds a protocol instance: the exported entry point, the
// interface factory, the protocol factory and the module that obtains the host services.

#include <string>

#include <qarn/host/IInterfaceFactory.h>
#include <qarn/host/IProtModule.h>
#include <qarn/host/IProtocolFactory.h>

class IProtocol;

class ProtocolFactory : public IProtocolFactory {
  public:
    void* ConvertTo(const char* name) override;
    const char* GetImpName() const override;
    int GetImpVersion() const override;
    IProtocol* CreateProtocol(const char* name) override;
    void DeleteProtocol(IProtocol* protocol) override;
};

class ProtModule : public IProtModule {
  public:
    ProtModule() = default;
    ~ProtModule() override;
    ProtModule(const ProtModule&) = delete;
    ProtModule& operator=(const ProtModule&) = delete;

    void* ConvertTo(const char* name) override;
    const char* GetImpName() const override;
    int GetImpVersion() const override;
    bool Init(IInterfaceFactory* hostFactory) override;
    void Close() override;
    const char* GetLastError() const override;

  private:
    void releaseAll();

    std::string lastError;
    IInterfaceFactory* hostFactory = nullptr;
    int useCount = 0;
};

class InterfaceFactory final : public IInterfaceFactory {
  public:
    InterfaceFactory() = default;
    ~InterfaceFactory() = default;
    InterfaceFactory(const InterfaceFactory&) = delete;
    InterfaceFactory& operator=(const InterfaceFactory&) = delete;

    IInterface* CreateInterface(const char* name) override;
    void ReleaseInterface(IInterface* object) override;

  private:
    ProtocolFactory protocolFactory;
    ProtModule protModule;
};

extern "C" __attribute__((visibility("default"))) IInterfaceFactory* GetInterfaceFactory();
