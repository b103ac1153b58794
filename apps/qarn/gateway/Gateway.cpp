#include <qarn/gateway/Gateway.h>

#include <iostream>
#include <set>

#include <qarn/gateway/LineScan.h>
#include <qarn/mqtt/MqttClient.h>
#include <qarn/toolkit/Errors.h>
#include <qarn/toolkit/Session.h>
#include <qarn/web/LineState.h>
#include <qarn/web/Server.h>

namespace qarn {

namespace {

LineOptions withFileHost(LineOptions options, const GatewayConfig& config) {
    if (options.store.empty()) {
        options.store = config.host.store;
    }
    if (options.plugin.empty()) {
        options.plugin = config.host.plugin;
    }
    return options;
}

void printPlan(const GatewayLine& line, const LineScan& scan, std::ostream& out) {
    const std::vector<ScanGroup>& plan = scan.scan().plan();
    out << "line " << line.name << " (" << line.options.ident << "): " << scan.tags().size()
        << " tags in " << plan.size() << " reads (" << scan.scan().lineRequests()
        << " on the line), every " << line.intervalMs << " ms:\n";
    for (size_t i = 0; i < plan.size(); ++i) {
        const ScanGroup& g = plan[i];
        out << "  " << i + 1 << ": " << g.length << " bytes from byte " << g.byteOffset
            << (g.onLine ? "" : " (answered by the driver)") << ":";
        for (const size_t t : g.tags) {
            out << " " << scan.tags()[t].name;
        }
        out << "\n";
    }
}

}  // namespace

Gateway::Gateway(const LineOptions& hostOptions, GatewayConfig config)
    : hostOptions_(withFileHost(hostOptions, config)),
      config_(std::move(config)),
      host_(hostOptions_) {
    if (config_.mqtt) {
        client_ = std::make_unique<MqttClient>(*config_.mqtt);
    }
}

Gateway::~Gateway() {
    stopServer();
    std::map<std::string, std::unique_ptr<LineWorker>> workers;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        workers.swap(workers_);
    }
    // Every line is asked first, so that they end together rather than one after the other.
    for (auto& [name, worker] : workers) {
        worker->requestStop();
    }
    workers.clear();
    states_.clear();
    client_.reset();
}

std::unique_ptr<LineWorker> Gateway::makeWorker(const GatewayLine& line) {
    web::LineState* state = nullptr;
    if (!config_.web.listen.empty()) {
        auto& slot = states_[line.name];
        slot = std::make_unique<web::LineState>(line.name);
        state = slot.get();
    }
    return std::make_unique<LineWorker>(host_, line, client_.get(), state);
}

void Gateway::startServer() {
    if (config_.web.listen.empty()) {
        return;
    }
    std::vector<web::LineState*> lines;
    bool writes = false;
    for (const GatewayLine& line : config_.lines) {
        lines.push_back(states_.at(line.name).get());
        writes = writes || line.allowWrites;
    }
    web::ServerSettings settings;
    settings.host = config_.web.host;
    settings.port = webPort_ >= 0 ? webPort_ : config_.web.port;
    settings.writes.allowWrites = writes;
    settings.writes.token = config_.web.token;
    MqttClient* client = client_.get();
    if (client != nullptr) {
        settings.extraMetrics = [client] {
            return std::string(
                       "# HELP qarn_mqtt_connected Whether the gateway is connected to its MQTT "
                       "broker.\n# TYPE qarn_mqtt_connected gauge\nqarn_mqtt_connected ") +
                   (client->connected() ? "1" : "0") + "\n";
        };
        settings.extraInfo = [client] {
            const MqttUrl& url = client->settings().url;
            return nlohmann::json{
                {"mqtt",
                 {{"connected", client->connected()},
                  {"broker", url.host + ":" + std::to_string(url.port)},
                  {"prefix", url.prefix}}}};
        };
    }
    server_ = std::make_unique<web::Server>(std::move(lines), std::move(settings));
    webPort_ = server_->bind();
    serverThread_ = std::thread([this] { server_->run(); });
}

void Gateway::stopServer() {
    if (server_ != nullptr) {
        server_->stop();
        serverThread_.join();
        server_.reset();
    }
}

std::string Gateway::webUrl() const {
    if (server_ == nullptr) {
        return std::string();
    }
    const std::string& host = config_.web.host;
    return "http://" + (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
           std::to_string(webPort_) + "/";
}

void Gateway::check(const GatewayConfig& config, std::ostream* plan) {
    std::vector<std::string> problems;
    for (size_t i = 0; i < config.lines.size(); ++i) {
        const GatewayLine& line = config.lines[i];
        const std::string field = "line[" + std::to_string(i + 1) + "]";
        try {
            Session session(host_, line.options);
            try {
                session.configured();
            } catch (const Failure& e) {
                throw UsageError(line.where.at(line.options.config.empty() ? "device" : "config") +
                                 ": " + field + ": " + e.what());
            }
            const LineScan scan(session, line, [] { return false; });
            if (plan != nullptr) {
                printPlan(line, scan, *plan);
            }
        } catch (const ConfigError& e) {
            problems.insert(problems.end(), e.problems().begin(), e.problems().end());
        } catch (const UsageError& e) {
            problems.push_back(e.what());
        } catch (const Failure& e) {
            problems.push_back(line.origin + ": " + field + ": " + e.what());
        }
    }
    if (!problems.empty()) {
        throw ConfigError(problems);
    }
}

void Gateway::start() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        for (const GatewayLine& line : config_.lines) {
            workers_[line.name] = makeWorker(line);
        }
    }
    startServer();
    if (client_ != nullptr) {
        client_->start({client_->topic("+/+/set")},
                       [this](const std::string& topic, const std::string& payload,
                              bool retained) { route(topic, payload, retained); });
    }
}

void Gateway::route(const std::string& topic, const std::string& payload, bool retained) {
    // PREFIX/LINE/NAME/set
    const std::string prefix = client_->settings().url.prefix + "/";
    if (topic.compare(0, prefix.size(), prefix) != 0) {
        return;
    }
    const std::string rest = topic.substr(prefix.size());
    const size_t slash = rest.find('/');
    const size_t end = rest.rfind('/');
    if (slash == std::string::npos || end == slash) {
        return;
    }
    const std::string line = rest.substr(0, slash);
    const std::string name = rest.substr(slash + 1, end - slash - 1);
    auto refuse = [&](const std::string& why) {
        std::cerr << "qarn gateway: " << topic << ": " << why << "\n";
        client_->publishEvent(topic + "/result",
                              writeResultPayload(false, why, std::chrono::system_clock::now()));
    };
    if (retained) {
        // A write kept by the broker would be done again at every connection.
        refuse("refused, nothing sent: a retained write is not taken (publish it unretained)");
        return;
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto it = workers_.find(line);
    if (it == workers_.end()) {
        refuse("no line '" + line + "'");
    } else if (!it->second->line().allowWrites) {
        refuse("refused, nothing sent: writes are not allowed on line " + line +
               " (allow_writes)");
    } else {
        it->second->queueWrite(name, payload);
    }
}

void Gateway::forgetTags(const GatewayLine& line, const GatewayLine* next) {
    if (client_ == nullptr) {
        return;
    }
    std::set<std::string> kept;
    if (next != nullptr) {
        for (const GatewayTag& t : next->tags) {
            kept.insert(t.entry.name);
        }
    }
    for (const GatewayTag& t : line.tags) {
        if (kept.count(t.entry.name) == 0) {
            client_->forget(client_->topic(line.name + "/" + t.entry.name));
        }
    }
}

std::string Gateway::reload(GatewayConfig next) {
    std::vector<std::string> problems;
    if (withFileHost(hostOptions_, next).store != hostOptions_.store ||
        withFileHost(hostOptions_, next).plugin != hostOptions_.plugin) {
        problems.push_back(next.path + ": gateway: the store and the plug-in change at a restart");
    }
    if (next.mqttSignature != config_.mqttSignature) {
        problems.push_back(next.path + ": mqtt: the broker settings change at a restart");
    }
    if (next.web.listen != config_.web.listen) {
        problems.push_back(next.path + ": web: the listener changes at a restart");
    }
    if (!problems.empty()) {
        throw ConfigError(problems);
    }
    check(next);

    std::map<std::string, const GatewayLine*> wanted;
    for (const GatewayLine& line : next.lines) {
        wanted[line.name] = &line;
    }
    std::map<std::string, std::unique_ptr<LineWorker>> leaving;
    int kept = 0;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = workers_.begin(); it != workers_.end();) {
            const auto w = wanted.find(it->first);
            if (w != wanted.end() && w->second->signature() == it->second->line().signature()) {
                ++kept;
                ++it;
            } else {
                leaving.insert(workers_.extract(it++));
            }
        }
    }
    // The server reads the line states that go; it comes back over the new ones.
    stopServer();
    // Stopped outside the lock: the broker's thread goes on routing writes meanwhile.
    for (auto& [name, worker] : leaving) {
        worker->requestStop();
    }
    size_t removed = 0;
    for (auto& [name, worker] : leaving) {
        const auto w = wanted.find(name);
        removed += w == wanted.end() ? 1 : 0;
        forgetTags(worker->line(), w != wanted.end() ? w->second : nullptr);
        worker.reset();
        states_.erase(name);
    }
    int started = 0;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        for (const GatewayLine& line : next.lines) {
            if (workers_.count(line.name) == 0) {
                workers_[line.name] = makeWorker(line);
                ++started;
            }
        }
        config_ = std::move(next);
    }
    startServer();
    return std::to_string(kept) + " lines kept running, " + std::to_string(started) +
           " (re)started, " + std::to_string(removed) + " stopped";
}

std::vector<LineStatus> Gateway::lines() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::vector<LineStatus> out;
    for (const auto& [name, worker] : workers_) {
        out.push_back(LineStatus{name, worker->state()});
    }
    return out;
}

bool Gateway::brokerConnected() const {
    return client_ != nullptr && client_->connected();
}

}  // namespace qarn
