#pragma once
// The thread that owns a line's session: it polls the tags as `qarn poll` does (the same poller,
// planner and error handling) and, between cycles, runs what the server queued: writes through
// the value codec and node guard of `qarn write`, node-ID overrides, the doctor. Everything it
// learns goes to the line's state.

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <qarn/scan/TagList.h>
#include <qarn/web/LineState.h>

class IProtocol;

namespace qarn {

class Session;
class Poller;
class TagHandle;

namespace web {

struct WorkerSettings {
    std::chrono::milliseconds interval{1000};  // from the start of one cycle to the next
    // --echo auto: a write's answer looks like its echo, so a tag is read once before its first
    // write (as `qarn write` does) while the port has not found out.
    bool settleEcho = true;
};

class LineWorker {
  public:
    // Creates the tags on the started protocol and plans the scan; throws the poller's
    // UsageError or Failure for a tag that is refused.
    LineWorker(Session& session, const std::vector<TagSpec>& specs, LineState& state,
               WorkerSettings settings);
    ~LineWorker();
    LineWorker(const LineWorker&) = delete;
    LineWorker& operator=(const LineWorker&) = delete;

    // Polls and serves requests until stop() or a StopOnSignal signal; then answers whatever is
    // still queued with 503.
    void run();
    // From any thread.
    void stop();

  private:
    void cycle();
    Reply serve(const LineRequest& request);
    Reply write(const LineRequest& request);
    Reply getIds();
    Reply setId(const LineRequest& request);
    Reply doctor();
    TagReadingState readBack(size_t index);

    Session& session_;
    IProtocol& protocol_;
    LineState& state_;
    WorkerSettings settings_;
    std::unique_ptr<Poller> poller_;
    std::vector<std::unique_ptr<TagHandle>> handles_;  // for writes and read-backs
    std::vector<bool> settled_;                        // per tag: read before its first write
    bool portGone_ = false;                            // the last cycle found the device gone
    std::string goneText_;
    std::atomic<bool> stop_{false};
};

}  // namespace web
}  // namespace qarn
