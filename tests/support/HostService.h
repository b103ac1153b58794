#pragma once
// Common part of the host service doubles: ConvertTo for their own interface name, and the
// implementation name and version the info text reads.

#include <cstring>

namespace qarntest {

// Stamps shared by the call records of all doubles, to order calls to different services.
inline unsigned long nextCallStamp() {
    static unsigned long last = 0;
    return ++last;
}

template <typename Interface>
class HostService : public Interface {
  public:
    HostService(const char* interfaceName, const char* impName, int impVersion)
        : interfaceName_(interfaceName), impName_(impName), impVersion_(impVersion) {}

    void* ConvertTo(const char* name) override {
        return name != nullptr && std::strcmp(name, interfaceName_) == 0
                   ? static_cast<Interface*>(this)
                   : nullptr;
    }
    const char* GetImpName() const override { return impName_; }
    int GetImpVersion() const override { return impVersion_; }

  private:
    const char *interfaceName_, *impName_;
    int impVersion_;
};

}  // namespace qarntest
