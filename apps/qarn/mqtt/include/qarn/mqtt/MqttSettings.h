#pragma once
// How qarn talks to the broker: the URL and what the URL must not hold (the password, the TLS
// CA file), the quality of service, when values are published, and the optional extras.

#include <string>

#include <qarn/mqtt/MqttUrl.h>

namespace CLI {
class App;
}

namespace qarn {

enum class PublishMode { OnChange, Every };

struct MqttSettings {
    MqttUrl url;
    std::string caFile;  // mqtts: the CA file; empty: the system's CAs
    std::string password;
    int qos = 1;
    PublishMode publish = PublishMode::OnChange;
    std::string clientId;  // empty: qarn-HOST-PID
    int healthSeconds = 30;
    bool discovery = false;  // Home Assistant discovery configs under homeassistant/sensor/
    int keepaliveSeconds = 30;
};

// The password from `file` (its first line) when given, else from $QARN_MQTT_PASSWORD, else
// empty. Throws UsageError when the file can't be read.
std::string readMqttPassword(const std::string& file);
// Throws UsageError for a QoS outside 0..2 or a publish mode other than change/every.
int checkQos(long qos);
PublishMode parsePublishMode(const std::string& text);

// The MQTT options of `qarn poll`: --mqtt URL and its companions; finishMqttOptions() turns
// them into settings after parsing.
struct MqttOptions {
    std::string url;
    std::string caFile;
    std::string passwordFile;
    int qos = 1;
    std::string publish = "change";
    std::string clientId;
    bool discovery = false;
};
void addMqttOptions(CLI::App& app, MqttOptions& options);
MqttSettings mqttSettings(const MqttOptions& options);

}  // namespace qarn
