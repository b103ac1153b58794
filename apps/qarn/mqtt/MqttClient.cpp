#include <qarn/mqtt/MqttClient.h>

#include <mosquitto.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>

#include <qarn/toolkit/Errors.h>

namespace qarn {

namespace {

const char* const Online = "online";
const char* const Offline = "offline";

// libmosquitto's global set-up, once per process and left in place until its end.
void initLibrary() {
    static const int once = mosquitto_lib_init();
    (void)once;
}

std::string defaultClientId() {
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    return "qarn-" + std::string(host) + "-" + std::to_string(getpid());
}

void check(int rc, const std::string& what) {
    if (rc != MOSQ_ERR_SUCCESS) {
        throw UsageError("MQTT: " + what + ": " + mosquitto_strerror(rc));
    }
}

}  // namespace

MqttClient::MqttClient(const MqttSettings& settings) : settings_(settings) {
    initLibrary();
    const std::string id = settings_.clientId.empty() ? defaultClientId() : settings_.clientId;
    mosq_ = mosquitto_new(id.c_str(), true, this);
    if (mosq_ == nullptr) {
        throw Failure("MQTT: cannot create a client");
    }
    try {
        const std::string status = topic("status");
        check(mosquitto_will_set(mosq_, status.c_str(), static_cast<int>(std::strlen(Offline)),
                                 Offline, 1, true),
              "last will");
        if (!settings_.url.user.empty()) {
            check(mosquitto_username_pw_set(
                      mosq_, settings_.url.user.c_str(),
                      settings_.password.empty() ? nullptr : settings_.password.c_str()),
                  "user name");
        }
        if (settings_.url.tls) {
            check(mosquitto_tls_set(mosq_,
                                    settings_.caFile.empty() ? nullptr : settings_.caFile.c_str(),
                                    settings_.caFile.empty() ? "/etc/ssl/certs" : nullptr,
                                    nullptr, nullptr, nullptr),
                  "TLS set-up" + (settings_.caFile.empty() ? "" : " with " + settings_.caFile));
        }
        // Back-off from 1 s doubling to 30 s between attempts.
        check(mosquitto_reconnect_delay_set(mosq_, 1, 30, true), "reconnect delay");
    } catch (...) {
        mosquitto_destroy(mosq_);
        throw;
    }
    mosquitto_connect_callback_set(mosq_, &MqttClient::onConnect);
    mosquitto_disconnect_callback_set(mosq_, &MqttClient::onDisconnect);
    mosquitto_message_callback_set(mosq_, &MqttClient::onMessage);
}

MqttClient::~MqttClient() {
    if (started_) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
            if (connected_) {
                // The will is for a gateway that dies; one that ends says so itself.
                send(topic("status"), Offline, true);
            }
        }
        wake_.notify_all();
        mosquitto_disconnect(mosq_);  // ends the loop once what is queued is out
        thread_.join();
    }
    mosquitto_destroy(mosq_);
}

void MqttClient::start(std::vector<std::string> filters, MessageHandler handler) {
    filters_ = std::move(filters);
    handler_ = std::move(handler);
    started_ = true;
    thread_ = std::thread([this] { network(); });
}

void MqttClient::network() {
    std::chrono::seconds backoff(1);
    for (;;) {
        int rc = MOSQ_ERR_SUCCESS;
        int error = 0;
        {
            // Under the lock: a stop either comes first and is seen here, or comes after and
            // its disconnect ends the loop below.
            const std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) {
                return;
            }
            rc = mosquitto_connect_async(mosq_, settings_.url.host.c_str(), settings_.url.port,
                                         settings_.keepaliveSeconds);
            error = errno;
        }
        if (rc == MOSQ_ERR_SUCCESS) {
            backoff = std::chrono::seconds(1);
            // Returns after mosquitto_disconnect, or for an error the loop does not retry.
            rc = mosquitto_loop_forever(mosq_, 1000, 1);
            error = errno;
        }
        std::unique_lock<std::mutex> lock(mutex_);
        connected_ = false;
        if (stopping_) {
            return;
        }
        note(std::string("cannot reach the broker: ") +
             (rc == MOSQ_ERR_ERRNO ? std::strerror(error) : mosquitto_strerror(rc)) +
             "; trying again");
        wake_.wait_for(lock, backoff, [this] { return stopping_; });
        if (stopping_) {
            return;
        }
        backoff = std::min(backoff * 2, std::chrono::seconds(30));
    }
}

void MqttClient::note(const std::string& text) {
    if (text != lastNote_) {
        std::cerr << "qarn: MQTT " << settings_.url.host << ":" << settings_.url.port << ": "
                  << text << "\n";
        lastNote_ = text;
    }
}

void MqttClient::send(const std::string& topic, const std::string& text, bool retain) {
    mosquitto_publish(mosq_, nullptr, topic.c_str(), static_cast<int>(text.size()),
                      text.data(), settings_.qos, retain);
}

void MqttClient::onConnect(mosquitto* /*m*/, void* self, int rc) {
    auto& c = *static_cast<MqttClient*>(self);
    const std::lock_guard<std::mutex> lock(c.mutex_);
    if (rc != 0) {
        c.note(std::string("connection refused: ") + mosquitto_connack_string(rc));
        return;
    }
    const unsigned long connection = ++c.connections_;
    c.connected_ = true;
    c.note("connected");
    for (const std::string& filter : c.filters_) {
        mosquitto_subscribe(c.mosq_, nullptr, filter.c_str(), c.settings_.qos);
    }
    c.send(c.topic("status"), Online, true);
    for (auto& [topic, kept] : c.kept_) {
        c.send(topic, kept.payload.text, true);
        kept.published = connection;
        kept.publishedSubject = kept.payload.subject;
    }
}

void MqttClient::onDisconnect(mosquitto* /*m*/, void* self, int rc) {
    auto& c = *static_cast<MqttClient*>(self);
    const std::lock_guard<std::mutex> lock(c.mutex_);
    c.connected_ = false;
    if (rc != 0) {
        c.note("connection lost, reconnecting");
    }
}

void MqttClient::onMessage(mosquitto* /*m*/, void* self, const mosquitto_message* message) {
    auto& c = *static_cast<MqttClient*>(self);
    if (c.handler_ && message != nullptr && message->topic != nullptr) {
        const std::string payload =
            message->payload != nullptr
                ? std::string(static_cast<const char*>(message->payload),
                              static_cast<size_t>(message->payloadlen))
                : std::string();
        c.handler_(message->topic, payload, message->retain);
    }
}

void MqttClient::publishValue(const std::string& topic, const Payload& payload) {
    const std::lock_guard<std::mutex> lock(mutex_);
    Kept& kept = kept_[topic];
    kept.payload = payload;
    if (!connected_) {
        return;
    }
    const unsigned long connection = connections_;
    if (settings_.publish == PublishMode::Every || kept.published != connection ||
        kept.publishedSubject != payload.subject) {
        send(topic, payload.text, true);
        kept.published = connection;
        kept.publishedSubject = payload.subject;
    }
}

void MqttClient::forget(const std::string& topic) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (kept_.erase(topic) != 0 && connected_) {
        send(topic, std::string(), true);  // an empty retained message clears it
    }
}

void MqttClient::publishEvent(const std::string& topic, const std::string& text) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (connected_) {
        send(topic, text, false);
    }
}

}  // namespace qarn
