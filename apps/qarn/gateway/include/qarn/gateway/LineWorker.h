#pragma once
// One line of the gateway on its own thread: its own protocol instance (ident, configuration,
// port) on the shared host, its tags polled at its interval and published, and the writes that
// reach it from the broker. Nothing it waits for holds up another line: a line whose adapter is
// gone or whose slaves are silent only marks its own tags bad, with the reason, and keeps trying.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <qarn/gateway/GatewayConfig.h>
#include <qarn/refhost/FrameFanout.h>
#include <qarn/mqtt/Payload.h>

namespace qarn {

class Host;
class MqttClient;
class LinePublisher;
class LineScan;
class Session;
namespace web {
class LineState;
}

// What a line has done so far, for the page and the metrics.
struct LineState {
    bool running = false;  // the port is open and cycles run
    unsigned long cycles = 0;
    unsigned long failedTags = 0;  // summed over the cycles
    double lastCycleMs = 0;
    std::string lastError;
};

class LineWorker {
  public:
    // Starts the line's thread. `client` may be null (no broker), `web` too (no web listener);
    // the worker answers the web's queued requests between its cycles.
    LineWorker(Host& host, GatewayLine line, MqttClient* client, web::LineState* web);
    // Stops the thread (cutting short a wait for an answer) and joins it.
    ~LineWorker();
    LineWorker(const LineWorker&) = delete;
    LineWorker& operator=(const LineWorker&) = delete;

    const GatewayLine& line() const { return line_; }
    // Queues a write of `text` to tag `name` for the line's thread; its result is published to
    // PREFIX/LINE/NAME/set/result. Safe from any thread; never calls the plug-in.
    void queueWrite(const std::string& name, const std::string& text);
    // Asks the thread to end; the destructor waits for it.
    void requestStop();
    LineState state() const;

  private:
    struct Write {
        std::string name;
        std::string text;
    };
    struct Outcome {
        bool ok = false;
        bool sent = false;  // it went on the line
        std::string text;   // the value written, or why not
    };
    void run();
    void poll(Session& session, LineScan& scan, LinePublisher* publisher);
    void failAll(LineScan& scan, LinePublisher* publisher, int code, const std::string& text);
    Outcome write(Session& session, LineScan& scan, const Write& w);
    // The writes queued from the broker and the web's requests.
    void serveQueued(Session& session, LineScan& scan, bool started);
    void publishResult(const std::string& name, bool ok, const std::string& text);
    // Waits until `until`, a stop or a queued write; true when it should stop.
    bool waitUntil(std::chrono::steady_clock::time_point until);

    Host& host_;
    const GatewayLine line_;
    MqttClient* client_;
    web::LineState* web_;
    // The line's ports report here: the host's trace and capture, and the web's traffic view.
    refhost::FrameFanout sinks_;
    int cancel_[2] = {-1, -1};  // written on stop: ends every wait of the line's port
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;  // guards the queue and the state
    std::condition_variable wake_;
    std::deque<Write> writes_;
    LineState state_;
    std::thread thread_;
};

}  // namespace qarn
