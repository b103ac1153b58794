#pragma once
// Root of every object that crosses the plug-in boundary. The host calls by virtual slot, so the
// order of the declarations below is part of the binary contract.

class IInterface {
  public:
    virtual ~IInterface() = default;
    virtual void* ConvertTo(const char* name) = 0;
    virtual const char* GetImpName() const = 0;
    virtual int GetImpVersion() const = 0;
};
