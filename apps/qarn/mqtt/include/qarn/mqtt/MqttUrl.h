#pragma once
// Where values go: mqtt://[user@]host[:port]/PREFIX, or mqtts:// for TLS. The password never
// comes in the URL: command lines are visible to every user of the machine.

#include <string>

namespace qarn {

struct MqttUrl {
    bool tls = false;
    std::string user;  // empty: none
    std::string host;
    int port = 1883;     // 8883 for mqtts
    std::string prefix;  // topic prefix, without slashes at its ends; may hold inner ones
};

// Throws UsageError naming what is wrong: scheme, a password in the URL, host, port, prefix
// (empty, or holding '+', '#' or an empty level).
MqttUrl parseMqttUrl(const std::string& text);

// Why `name` can't be one topic level of a tag: empty, holding '/', '+' or '#', "set", or
// starting with '$'. Empty when it can.
std::string topicLevelProblem(const std::string& name);

}  // namespace qarn
