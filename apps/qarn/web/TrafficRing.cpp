#include <qarn/web/TrafficRing.h>

#include <chrono>

#include <qarn/refhost/FrameTrace.h>

namespace qarn::web {

namespace {

int64_t millisecondsOf(std::chrono::system_clock::time_point time) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

}  // namespace

void TrafficRing::frame(const refhost::TracedFrame& frame) {
    TrafficEntry entry;
    entry.timeMs = millisecondsOf(frame.firstByte);
    entry.direction = frame.direction != nullptr ? frame.direction : "";
    entry.hex = refhost::FrameTrace::hex(frame.data, frame.length);
    entry.text = refhost::FrameTrace::describe(frame.data, frame.length, frame.fromMaster);
    add(std::move(entry));
}

void TrafficRing::note(const std::string& text) {
    TrafficEntry entry;
    entry.timeMs = millisecondsOf(std::chrono::system_clock::now());
    entry.direction = "NOTE";
    entry.text = text;
    add(std::move(entry));
}

void TrafficRing::add(TrafficEntry entry) {
    const std::lock_guard<std::mutex> lock(mutex_);
    entry.seq = ++seq_;
    entries_.push_back(std::move(entry));
    while (entries_.size() > Capacity) {
        entries_.pop_front();
    }
}

std::vector<TrafficEntry> TrafficRing::since(uint64_t seq) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::vector<TrafficEntry> out;
    for (const TrafficEntry& e : entries_) {
        if (e.seq > seq) {
            out.push_back(e);
        }
    }
    return out;
}

uint64_t TrafficRing::lastSeq() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return seq_;
}

}  // namespace qarn::web
