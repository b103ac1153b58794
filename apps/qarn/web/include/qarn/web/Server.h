#pragma once
// The HTTP side of `qarn serve`: the page, the JSON API, live events and the metrics, over one
// or more lines. Requests that talk to a line are queued to its polling thread and waited for.
//
//   GET  /                        the page (and its files, all built in)
//   GET  /api/info                lines, whether writes are on and need a token
//   GET  /api/tags                every tag:
//   [{"name","tag","type","writable","value","error","time"}] GET  /api/tags/NAME           one tag
//   POST /api/tags/NAME           {"value": V}: writes, then reads back
//   GET  /api/trends[?names=A,B]  the trend rings: {"NAME": [[ms, value], ...]}
//   GET  /api/traffic?since=SEQ   {"last": SEQ, "frames": [{"seq","time","dir","hex","text"}]}
//   GET  /api/overrides           the node-ID overrides (getid)
//   POST /api/overrides           {"node": N, "target": M}: setid
//   GET  /api/health              requests, failures by kind, cycle times
//   GET  /api/doctor              the line doctor's summary (runs transactions)
//   GET  /api/events              Server-Sent Events: {"tags", "health"} after every cycle
//   GET  /metrics                 Prometheus text format
// Every /api path takes ?line=NAME; the first line without it.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <qarn/web/PostCheck.h>

namespace httplib {
class Server;
class Request;
class Response;
}  // namespace httplib

namespace qarn::web {

class LineState;

struct ServerSettings {
    std::string host = "127.0.0.1";
    int port = 8080;  // 0: any free port
    WriteSettings writes;
    size_t maxBody = 4096;                 // bytes of a POST body
    size_t maxEventClients = 8;            // live event streams; each holds a thread
    std::chrono::seconds lineTimeout{30};  // wait for the polling thread's reply
    // What the program around the lines adds (the gateway: its broker connection): more lines
    // of the metrics text, more fields of /api/info. Called on the server's threads.
    std::function<std::string()> extraMetrics;
    std::function<nlohmann::json()> extraInfo;
};

class Server {
  public:
    // Throws UsageError for a listen address that the write settings forbid.
    Server(std::vector<LineState*> lines, ServerSettings settings);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds the address; returns the port. Throws Failure when it cannot.
    int bind();
    // Serves until stop(); call after bind(), on a thread of its own.
    void run();
    // From any thread, also before run(): ends event streams and run().
    void stop();

  private:
    void routes();
    LineState* lineOf(const httplib::Request& request, httplib::Response& response) const;
    void send(httplib::Response& response, const Reply& reply) const;
    void queue(LineState& line, LineRequest request, httplib::Response& response) const;
    bool postRefused(const httplib::Request& request, httplib::Response& response) const;
    void events(LineState& line, httplib::Response& response);

    std::vector<LineState*> lines_;
    ServerSettings settings_;
    std::unique_ptr<httplib::Server> http_;
    std::atomic<bool> stopping_{false};
    std::atomic<size_t> eventClients_{0};
};

}  // namespace qarn::web
