#pragma once
// Several lines in one process: one shared host (store, serial factory, the plug-in loaded
// once), one broker connection, and a worker thread per line. Writes that arrive from the broker
// are routed to their line's worker. A reload replaces only the lines whose settings changed.

#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include <qarn/gateway/GatewayConfig.h>
#include <qarn/gateway/LineWorker.h>
#include <qarn/toolkit/Host.h>

namespace qarn {

class MqttClient;
namespace web {
class LineState;
class Server;
}  // namespace web

struct LineStatus {
    std::string name;
    LineState state;
};

class Gateway {
  public:
    // Sets up the host from `hostOptions` (the command line's store, plug-in, trace; the file's
    // when the command line gives none) and the broker client; nothing runs yet.
    Gateway(const LineOptions& hostOptions, GatewayConfig config);
    ~Gateway();
    Gateway(const Gateway&) = delete;
    Gateway& operator=(const Gateway&) = delete;

    // Checks every line of `config` with the plug-in without opening a port: its configuration
    // and each tag (node guard, address). With `plan`, prints each line's requests there.
    // Throws ConfigError naming the file, line and field of each problem.
    void check(const GatewayConfig& config, std::ostream* plan = nullptr);
    // Starts every line, then the web listener and the broker connection. Throws UsageError or
    // Failure when the listener can't start.
    void start();
    // The web listener's URL; empty without one.
    std::string webUrl() const;
    // Takes `next` (loaded from the same file) when it checks out: lines that did not change
    // keep running, changed ones restart, removed ones stop. Throws ConfigError, leaving
    // everything as it was, for a file that does not check out or changes what only a restart
    // can (the host, the broker, the web listener). Returns what changed, in a few words.
    std::string reload(GatewayConfig next);

    std::vector<LineStatus> lines() const;
    bool brokerConnected() const;
    const GatewayConfig& config() const { return config_; }

  private:
    void route(const std::string& topic, const std::string& payload, bool retained);
    void forgetTags(const GatewayLine& line, const GatewayLine* next);
    std::unique_ptr<LineWorker> makeWorker(const GatewayLine& line);
    void startServer();
    void stopServer();

    LineOptions hostOptions_;
    GatewayConfig config_;
    Host host_;
    std::unique_ptr<MqttClient> client_;
    // Guards the workers, which the broker's thread looks up to route writes.
    mutable std::mutex mutex_;
    std::map<std::string, std::unique_ptr<LineWorker>> workers_;
    // The web's view of each line, made before its worker and gone after it; the server is
    // rebuilt over them when a reload changes the lines.
    std::map<std::string, std::unique_ptr<web::LineState>> states_;
    std::unique_ptr<web::Server> server_;
    std::thread serverThread_;
    int webPort_ = -1;  // the port bound first, kept through reloads
};

}  // namespace qarn
