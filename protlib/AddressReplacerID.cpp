#include <qarn/protlib/AddressReplacerID.h>

#include <cstdlib>

std::string AddressReplacerID::getPrefix() const {
    return "tempNode";
}

std::string AddressReplacerID::toString(int value) const {
    return std::to_string(value);
}

int AddressReplacerID::fromString(const std::string& text) const {
    return static_cast<int>(std::strtol(text.c_str(), nullptr, 0));
}
