#pragma once

#include "IInterface.h"

class IInterfaceFactory;

class IProtModule : public IInterface {
  public:
    virtual bool Init(IInterfaceFactory* hostFactory) = 0;
    virtual void Close() = 0;
    virtual const char* GetLastError() const = 0;
};
