#include <qarn/mqtt/MqttUrl.h>

#include <cctype>

#include <qarn/toolkit/Errors.h>

namespace qarn {

namespace {

[[noreturn]] void bad(const std::string& text, const std::string& why) {
    throw UsageError("MQTT URL '" + text + "': " + why +
                     " (the form is mqtt://[user@]host[:port]/PREFIX or mqtts://...)");
}

}  // namespace

MqttUrl parseMqttUrl(const std::string& text) {
    MqttUrl url;
    std::string rest;
    if (text.rfind("mqtt://", 0) == 0) {
        rest = text.substr(7);
    } else if (text.rfind("mqtts://", 0) == 0) {
        url.tls = true;
        url.port = 8883;
        rest = text.substr(8);
    } else {
        bad(text, "the scheme must be mqtt:// or mqtts://");
    }
    const size_t slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    url.prefix = slash == std::string::npos ? "" : rest.substr(slash + 1);
    const size_t at = authority.rfind('@');
    if (at != std::string::npos) {
        url.user = authority.substr(0, at);
        authority = authority.substr(at + 1);
        if (url.user.find(':') != std::string::npos) {
            bad(text, "no password in the URL; give a password file or set QARN_MQTT_PASSWORD");
        }
        if (url.user.empty()) {
            bad(text, "empty user name before '@'");
        }
    }
    if (!authority.empty() && authority[0] == '[') {  // [::1]:1883
        const size_t close = authority.find(']');
        if (close == std::string::npos) {
            bad(text, "unclosed '[' in the host");
        }
        url.host = authority.substr(1, close - 1);
        authority = authority.substr(close + 1);
    } else {
        const size_t colon = authority.find(':');
        url.host = authority.substr(0, colon);
        authority = colon == std::string::npos ? "" : authority.substr(colon);
    }
    if (url.host.empty()) {
        bad(text, "no host");
    }
    if (!authority.empty()) {
        const std::string port = authority[0] == ':' ? authority.substr(1) : "";
        bool digits = !port.empty() && port.size() <= 5;
        for (const char c : port) {
            digits = digits && std::isdigit(static_cast<unsigned char>(c)) != 0;
        }
        if (!digits || std::stol(port) < 1 || std::stol(port) > 65535) {
            bad(text, "the port must be a number from 1 to 65535");
        }
        url.port = static_cast<int>(std::stol(port));
    }
    while (!url.prefix.empty() && url.prefix.back() == '/') {
        url.prefix.pop_back();
    }
    if (url.prefix.empty()) {
        bad(text, "no topic prefix after the host");
    }
    if (url.prefix.find_first_of("+#") != std::string::npos) {
        bad(text, "the topic prefix must not hold '+' or '#'");
    }
    if (url.prefix[0] == '/' || url.prefix.find("//") != std::string::npos) {
        bad(text, "the topic prefix has an empty level");
    }
    return url;
}

std::string topicLevelProblem(const std::string& name) {
    if (name.empty()) {
        return "is empty";
    }
    if (name.find_first_of("/+#") != std::string::npos) {
        return "must not hold '/', '+' or '#' (it is one MQTT topic level)";
    }
    if (name == "set") {
        return "must not be 'set' (the topic level that takes writes)";
    }
    if (name[0] == '$') {
        return "must not start with '$' (kept for the broker and for $health)";
    }
    return std::string();
}

}  // namespace qarn
