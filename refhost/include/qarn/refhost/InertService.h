#pragma once
// Services the plug-in obtains and gives back but never calls: they only answer to their name.

#include <cstring>

namespace refhost {

template <typename Interface>
class InertService final : public Interface {
  public:
    InertService(const char* interfaceName, const char* impName)
        : interfaceName_(interfaceName), impName_(impName) {}

    void* ConvertTo(const char* name) override {
        return name != nullptr && std::strcmp(name, interfaceName_) == 0 ? this : nullptr;
    }
    const char* GetImpName() const override { return impName_; }
    int GetImpVersion() const override { return 100; }

  private:
    const char* interfaceName_;
    const char* impName_;
};

}  // namespace refhost
