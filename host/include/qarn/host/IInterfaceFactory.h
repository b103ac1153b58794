#pragma once
// Factory of named interfaces. Deliberately without a virtual destructor: the host's factory
// table starts with CreateInterface.

class IInterface;

class IInterfaceFactory {
  public:
    virtual IInterface* CreateInterface(const char* name) = 0;
    virtual void ReleaseInterface(IInterface* object) = 0;

  protected:
    ~IInterfaceFactory() = default;
};
