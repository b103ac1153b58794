#include <qarn/commission/ConfigText.h>

#include <cctype>
#include <sstream>
#include <vector>

namespace qarn {

namespace {

std::vector<std::string> items(const std::string& config) {
    std::istringstream in(config);
    std::vector<std::string> out;
    for (std::string item; in >> item;) {
        out.push_back(item);
    }
    return out;
}

// The key of an item without its node prefix; `prefixed` tells whether there was one.
std::string itemKey(const std::string& item, bool& prefixed) {
    const size_t eq = item.find('=');
    std::string key = item.substr(0, eq);
    const size_t separator = key.find("::");
    prefixed = key.compare(0, 4, "Node") == 0 && separator != std::string::npos;
    return prefixed ? key.substr(separator + 2) : key;
}

}  // namespace

std::string configValue(const std::string& config, const std::string& key) {
    for (const std::string& item : items(config)) {
        bool prefixed = false;
        if (item.find('=') != std::string::npos && itemKey(item, prefixed) == key && !prefixed) {
            return item.substr(item.find('=') + 1);
        }
    }
    return std::string();
}

std::string withConfigValue(const std::string& config, const std::string& key,
                            const std::string& value) {
    std::string out;
    bool unprefixed = false;
    for (std::string item : items(config)) {
        bool prefixed = false;
        const size_t eq = item.find('=');
        if (eq != std::string::npos && itemKey(item, prefixed) == key) {
            item = item.substr(0, eq + 1) + value;
            unprefixed = unprefixed || !prefixed;
        }
        out += (out.empty() ? "" : " ") + item;
    }
    if (!unprefixed) {
        out += (out.empty() ? "" : " ") + key + "=" + value;
    }
    return out;
}

}  // namespace qarn
