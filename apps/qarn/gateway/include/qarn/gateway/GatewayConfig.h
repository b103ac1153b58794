#pragma once
// The gateway's configuration file (TOML): the host, the broker, the web listener and the lines
// with their tags. Read whole and checked before anything starts; every error names the file,
// the line in it and the field, e.g. "gw.toml:14: line[2].baud: must be a positive integer".
//
//   [gateway]                       # optional
//   store = "/var/lib/qarn/store.ini"
//   plugin = "/usr/lib/qarn/libqarn.so"
//   [mqtt]                          # optional; [mqtt] or [web] is needed
//   url = "mqtt://gw@broker/site1"  # mqtts:// for TLS
//   password_file = "/etc/qarn/mqtt.pass"   # else $QARN_MQTT_PASSWORD
//   cafile = "..."   qos = 1   publish = "change"|"every"   client_id = "..."
//   health_interval = 30            # s
//   homeassistant = false           # discovery configs
//   [web]                           # the page, the JSON API and /metrics of all lines
//   listen = "127.0.0.1:8080"
//   token = "..."                   # POSTs need it; writes off loopback need one
//   [[line]]
//   name = "hall1"                  # the topic level; ident defaults to it
//   device = "/dev/ttyUSB0"         # quick form: baud, parity, bits, stopbits, mode, model,
//   baud = 19200                    #   node, timeout, repeat, delay
//   # config = "CfgVer=1 uart=..."  # or a full configuration string
//   interval = 1000                 # ms, from the start of one cycle to the next
//   late_guard = 200                # ms
//   echo = "auto"                   # auto, on or off
//   allow_writes = false
//   tags_file = "hall1.tags"        # NAME ADDRESS per line, beside this file
//   [[line.tag]]
//   name = "volts"
//   address = "1?HREG?400001?unsignedShort"
//   scale = 0.1
//   offset = 0.0
//   unit = "V"

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <qarn/mqtt/MqttSettings.h>
#include <qarn/mqtt/Payload.h>
#include <qarn/scan/TagList.h>
#include <qarn/toolkit/LineOptions.h>

namespace qarn {

// Every problem found in a file, one "FILE:LINE: FIELD: why" a line.
class ConfigError : public std::runtime_error {
  public:
    explicit ConfigError(const std::vector<std::string>& problems);
    const std::vector<std::string>& problems() const { return problems_; }

  private:
    std::vector<std::string> problems_;
};

struct GatewayTag {
    TagSpec entry;  // origin "FILE:LINE"
    TagScaling scaling;
};

struct GatewayLine {
    std::string name;
    std::string origin;  // "FILE:LINE" of its [[line]]
    std::map<std::string, std::string> where;  // "FILE:LINE" of each field given
    LineOptions options;  // the line's configuration, ident, echo, late guard
    long intervalMs = 1000;
    bool allowWrites = false;
    std::vector<GatewayTag> tags;

    // Everything that makes the line what it is: a line whose signature did not change keeps
    // running through a reload.
    std::string signature() const;
};

struct WebSettings {
    std::string listen;  // "HOST:PORT"; empty: no web listener
    std::string host;
    int port = 0;        // 0: any free one
    std::string token;   // asked for with every POST when set
    std::string origin;
};

struct GatewayConfig {
    std::string path;
    LineOptions host;  // store and plug-in
    std::optional<MqttSettings> mqtt;
    std::string mqttSignature;  // the [mqtt] section as read, to see that it changed
    WebSettings web;
    std::vector<GatewayLine> lines;
};

// Reads and checks `path`. Throws ConfigError with every problem found.
GatewayConfig loadGatewayConfig(const std::string& path);

}  // namespace qarn
