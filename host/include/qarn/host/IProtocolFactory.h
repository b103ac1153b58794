#pragma once

#include <cstring>

#include "IInterface.h"

class IProtocol;

class IProtocolFactory : public IInterface {
  public:
    void* ConvertTo(const char* name) override {
        return (name != nullptr && std::strcmp(name, "IProtocolFactory") == 0) ? this : nullptr;
    }
    virtual IProtocol* CreateProtocol(const char* name) = 0;
    virtual void DeleteProtocol(IProtocol* protocol) = 0;
};
