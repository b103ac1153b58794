#pragma once
// Work for the thread that owns a line's session. The plug-in takes no overlapping calls, so the
// server's threads queue writes, node-ID changes and the doctor here and wait for the reply; the
// polling thread runs them between its cycles.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace qarn::web {

// An HTTP status and a JSON body.
struct Reply {
    int status = 200;
    nlohmann::json body;
};

// The JSON error body: {"error": TEXT}, plus the plug-in's code when there is one.
Reply errorReply(int status, const std::string& text);
Reply errorReply(int status, int code, const std::string& text);

struct LineRequest {
    enum class Kind { Write, GetIds, SetId, Doctor } kind = Kind::GetIds;
    std::string tag;       // Write: the tag's name
    nlohmann::json value;  // Write: the value, as the API took it
    std::string node;      // SetId: the configured node
    std::string target;    // SetId: its new address, 0 to reset
};

class RequestQueue {
  public:
    using Pending = std::pair<LineRequest, std::promise<Reply>>;

    // Queues `request`; the future gets its reply. Once closed, replies at once with the reply
    // close() was given.
    std::future<Reply> submit(LineRequest request);
    // Polling thread: waits until a request is queued, wake() is called or `until` passes.
    void waitUntil(std::chrono::steady_clock::time_point until);
    // Polling thread: everything queued so far, oldest first.
    std::vector<Pending> take();
    // Ends a waitUntil() early.
    void wake();
    // Answers everything queued now and later with `reply`.
    void close(const Reply& reply);

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Pending> queue_;
    bool woken_ = false;
    bool closed_ = false;
    Reply closedReply_;
};

}  // namespace qarn::web
