#pragma once
// What the server knows of one line: its tags' latest values and trends, its traffic, its
// health and the queue of requests for its polling thread. The polling thread writes it, the
// server's threads read it; every part is safe to use from both. A server serves a list of them.

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <qarn/web/RequestQueue.h>
#include <qarn/web/TrafficRing.h>
#include <qarn/web/TrendRing.h>
#include <nlohmann/json.hpp>

namespace qarn::web {

struct TagInfo {
    std::string name;
    std::string address;
    std::string type;  // data-type string
    bool writable = false;
};

// A tag's latest reading, as the API shows it.
struct TagReadingState {
    bool read = false;  // false until its first cycle
    bool ok = false;
    nlohmann::json value;          // typed as `qarn read --format json` prints it
    std::optional<double> number;  // numeric scalars (booleans as 0/1): trended and exported
    int code = 0;                  // when not ok
    std::string text;
    int64_t timeMs = 0;
};

// Upper bounds of the cycle-time histogram, in seconds.
constexpr std::array<double, 10> CycleBuckets = {0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10};

struct Health {
    uint64_t cycles = 0;
    uint64_t requests = 0;  // requests that went on the line
    uint64_t failedRequests = 0;
    std::map<std::string, uint64_t> failures;  // by FailureKind
    double lastCycleSeconds = 0;
    double maxCycleSeconds = 0;
    double medianCycleSeconds = 0;                             // of the last 101 cycles
    std::array<uint64_t, CycleBuckets.size()> bucketCounts{};  // cumulative, as exported
    double cycleSecondsSum = 0;
    bool up = false;          // the last cycle had an answer from the line
    std::string lineProblem;  // why not, when known
};

// What one finished cycle brought.
struct CycleUpdate {
    std::vector<TagReadingState> readings;  // one per tag, in the tags' order
    size_t requests = 0;
    std::vector<std::string> failedKinds;  // one per failed request
    double seconds = 0;
    bool up = false;
    std::string lineProblem;
};

class LineState {
  public:
    explicit LineState(std::string name);

    const std::string& name() const { return name_; }
    TrafficRing& traffic() { return traffic_; }
    const TrafficRing& traffic() const { return traffic_; }
    RequestQueue& requests() { return requests_; }

    // Set by the polling thread once, before the first cycle.
    void setTags(std::vector<TagInfo> tags);
    std::vector<TagInfo> tags() const;
    // Index of the tag called `name`, or -1.
    int findTag(const std::string& name) const;

    void publish(const CycleUpdate& update);
    // A reading outside the cycle, e.g. the read-back after a write.
    void publishReading(size_t index, const TagReadingState& reading);

    // The JSON API's views.
    nlohmann::json tagsJson() const;
    nlohmann::json tagJson(size_t index) const;
    nlohmann::json healthJson() const;
    // The trends of the named tags (all numeric ones when `names` is empty): name -> [[ms, v]...].
    nlohmann::json trendsJson(const std::vector<std::string>& names) const;

    std::vector<TagReadingState> readings() const;
    Health health() const;

    // Raised by every publish; for clients that wait for news.
    uint64_t version() const;
    // Waits until the version is past `seen` or `timeout` passes; returns the version.
    uint64_t waitForChange(uint64_t seen, std::chrono::milliseconds timeout) const;

  private:
    nlohmann::json tagJsonLocked(size_t index) const;
    void changedLocked();

    const std::string name_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    uint64_t version_ = 0;
    std::vector<TagInfo> tags_;
    std::vector<TagReadingState> readings_;
    std::vector<TrendRing> trends_;
    Health health_;
    std::deque<double> recentCycles_;
    TrafficRing traffic_;
    RequestQueue requests_;
};

// Milliseconds since the epoch as the API's time: "2026-12-06T14:46:47.123Z".
std::string isoTime(int64_t timeMs);

}  // namespace qarn::web
