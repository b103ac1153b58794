#include <qarn/mqtt/MqttSettings.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include <qarn/toolkit/Errors.h>

namespace qarn {

std::string readMqttPassword(const std::string& file) {
    if (!file.empty()) {
        std::ifstream in(file);
        if (!in) {
            throw UsageError("cannot read the MQTT password file '" + file +
                             "': " + std::strerror(errno));
        }
        std::string line;
        std::getline(in, line);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        return line;
    }
    const char* env = std::getenv("QARN_MQTT_PASSWORD");
    return env != nullptr ? env : "";
}

int checkQos(long qos) {
    if (qos < 0 || qos > 2) {
        throw UsageError("the MQTT QoS must be 0, 1 or 2, not " + std::to_string(qos));
    }
    return static_cast<int>(qos);
}

PublishMode parsePublishMode(const std::string& text) {
    if (text == "change") {
        return PublishMode::OnChange;
    }
    if (text == "every") {
        return PublishMode::Every;
    }
    throw UsageError("publish must be 'change' or 'every', not '" + text + "'");
}

void addMqttOptions(CLI::App& app, MqttOptions& options) {
    app.add_option("--mqtt", options.url,
                   "also publish every tag to mqtt://[user@]host[:port]/PREFIX (mqtts:// for "
                   "TLS) as PREFIX/IDENT/NAME, retained JSON");
    app.add_option("--mqtt-cafile", options.caFile, "CA file for mqtts:// (default: the system's)");
    app.add_option("--mqtt-password-file", options.passwordFile,
                   "file whose first line is the broker password (else $QARN_MQTT_PASSWORD)");
    app.add_option("--qos", options.qos, "MQTT quality of service")
        ->check(CLI::Range(0, 2))
        ->capture_default_str();
    app.add_option("--publish", options.publish,
                   "change: a tag's value when it differs from the last one published on this "
                   "connection; every: each cycle")
        ->check(CLI::IsMember({"change", "every"}))
        ->capture_default_str();
    app.add_option("--mqtt-client-id", options.clientId, "MQTT client id (default qarn-HOST-PID)");
    app.add_flag("--ha-discovery", options.discovery,
                 "publish Home Assistant discovery configs under homeassistant/sensor/");
}

MqttSettings mqttSettings(const MqttOptions& options) {
    MqttSettings s;
    s.url = parseMqttUrl(options.url);
    s.caFile = options.caFile;
    s.password = readMqttPassword(options.passwordFile);
    s.qos = checkQos(options.qos);
    s.publish = parsePublishMode(options.publish);
    s.clientId = options.clientId;
    s.discovery = options.discovery;
    return s;
}

}  // namespace qarn
