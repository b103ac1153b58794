#include <qarn/web/RequestQueue.h>

namespace qarn::web {

Reply errorReply(int status, const std::string& text) {
    return Reply{status, nlohmann::json{{"error", text}}};
}

Reply errorReply(int status, int code, const std::string& text) {
    return Reply{status, nlohmann::json{{"error", text}, {"code", code}}};
}

std::future<Reply> RequestQueue::submit(LineRequest request) {
    std::promise<Reply> promise;
    std::future<Reply> future = promise.get_future();
    const std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) {
        promise.set_value(closedReply_);
    } else {
        queue_.emplace_back(std::move(request), std::move(promise));
        changed_.notify_all();
    }
    return future;
}

void RequestQueue::waitUntil(std::chrono::steady_clock::time_point until) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_until(lock, until, [this] { return woken_ || !queue_.empty(); });
    woken_ = false;
}

std::vector<RequestQueue::Pending> RequestQueue::take() {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Pending> out;
    while (!queue_.empty()) {
        out.push_back(std::move(queue_.front()));
        queue_.pop_front();
    }
    return out;
}

void RequestQueue::wake() {
    const std::lock_guard<std::mutex> lock(mutex_);
    woken_ = true;
    changed_.notify_all();
}

void RequestQueue::close(const Reply& reply) {
    const std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    closedReply_ = reply;
    for (Pending& p : queue_) {
        p.second.set_value(reply);
    }
    queue_.clear();
    changed_.notify_all();
}

}  // namespace qarn::web
