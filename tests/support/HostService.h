#pragma once
// Common part of every host service double: answers ConvertTo for its own interface name and
// reports an implementation name and version, as the info text reads them.

#include <cstring>

namespace qarntest {

// Increasing number shared by the call records of all doubles, so that a test can compare the
// order of calls made to different services (a delay's Sleep before the first Drain, say).
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
    const char* interfaceName_;
    const char* impName_;
    int impVersion_;
};

}  // namespace qarntest
