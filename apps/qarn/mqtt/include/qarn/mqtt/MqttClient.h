#pragma once
// The broker connection through libmosquitto, and the newest value of every topic it carries.
//
// A network thread runs libmosquitto's loop, which connects, reconnects with back-off and calls
// us back; the lines' threads publish. Values are kept per topic, newest only: while the broker
// is away nothing is handed to libmosquitto (it would queue QoS 1 messages without bound), and
// on every (re)connect each topic's newest value goes out retained, since a restarted broker may
// have lost its retained messages. Within one connection an unchanged value is not published
// again unless the settings ask for every one. `PREFIX/status` carries "online" while connected,
// and "offline" as the last will and at a clean end.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <qarn/mqtt/MqttSettings.h>
#include <qarn/mqtt/Payload.h>

struct mosquitto;
struct mosquitto_message;

namespace qarn {

class MqttClient {
  public:
    // Called on libmosquitto's thread for each message of a subscription; must only queue.
    // `retained`: the broker kept it from earlier, it was not sent now.
    using MessageHandler = std::function<void(const std::string& topic,
                                              const std::string& payload, bool retained)>;

    // Sets up the client (will, credentials, TLS); nothing connects before start(). Throws
    // UsageError for settings libmosquitto refuses.
    explicit MqttClient(const MqttSettings& settings);
    // Publishes "offline", disconnects and stops the network thread.
    ~MqttClient();
    MqttClient(const MqttClient&) = delete;
    MqttClient& operator=(const MqttClient&) = delete;

    // Subscribes to `filters` on every connection, handing their messages to `handler`; then
    // connects in the background. Call once.
    void start(std::vector<std::string> filters, MessageHandler handler);

    // A value for `topic` (retained): kept as the topic's newest, and published when connected
    // and new on this connection (or always, with PublishMode::Every).
    void publishValue(const std::string& topic, const Payload& payload);
    // Drops `topic`: no longer republished, and its retained message cleared when connected.
    void forget(const std::string& topic);
    // A one-off message (results, health), not retained: published when connected, else lost.
    void publishEvent(const std::string& topic, const std::string& text);

    bool connected() const { return connected_; }
    // Connections made so far (the first one included).
    unsigned long connections() const { return connections_; }
    const MqttSettings& settings() const { return settings_; }
    // PREFIX/rest.
    std::string topic(const std::string& rest) const { return settings_.url.prefix + "/" + rest; }

  private:
    struct Kept {
        Payload payload;
        unsigned long published = 0;  // the connection it was last published on (0: none)
        std::string publishedSubject;
    };
    static void onConnect(mosquitto* m, void* self, int rc);
    static void onDisconnect(mosquitto* m, void* self, int rc);
    static void onMessage(mosquitto* m, void* self, const mosquitto_message* message);
    // The network thread: connects, runs libmosquitto's loop, which reconnects after a loss
    // itself, and tries again with back-off when even the first connection fails.
    void network();
    // With mutex_ held.
    void send(const std::string& topic, const std::string& text, bool retain);
    void note(const std::string& text);

    MqttSettings settings_;
    mosquitto* mosq_ = nullptr;
    bool started_ = false;
    std::vector<std::string> filters_;
    MessageHandler handler_;
    // Guards the kept values and the publishing on them; libmosquitto's callbacks take it too.
    std::mutex mutex_;
    std::map<std::string, Kept> kept_;
    std::atomic<bool> connected_{false};
    std::atomic<unsigned long> connections_{0};
    std::string lastNote_;
    bool stopping_ = false;  // guarded by mutex_
    std::condition_variable wake_;
    std::thread thread_;
};

}  // namespace qarn
