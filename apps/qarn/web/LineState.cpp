#include <qarn/web/LineState.h>

#include <algorithm>
#include <ctime>

namespace qarn::web {

namespace {

constexpr size_t MedianWindow = 101;

}  // namespace

std::string isoTime(int64_t timeMs) {
    const std::time_t seconds = static_cast<std::time_t>(timeMs / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    char millis[8];
    std::snprintf(millis, sizeof millis, ".%03dZ", static_cast<int>(timeMs % 1000));
    return std::string(text, n) + millis;
}

LineState::LineState(std::string name) : name_(std::move(name)) {}

void LineState::setTags(std::vector<TagInfo> tags) {
    const std::lock_guard<std::mutex> lock(mutex_);
    tags_ = std::move(tags);
    readings_.assign(tags_.size(), TagReadingState{});
    trends_.assign(tags_.size(), TrendRing());
    changedLocked();
}

std::vector<TagInfo> LineState::tags() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return tags_;
}

int LineState::findTag(const std::string& name) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < tags_.size(); ++i) {
        if (tags_[i].name == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void LineState::publish(const CycleUpdate& update) {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < update.readings.size() && i < readings_.size(); ++i) {
        readings_[i] = update.readings[i];
        if (update.readings[i].ok && update.readings[i].number) {
            trends_[i].add(TrendPoint{update.readings[i].timeMs, *update.readings[i].number});
        }
    }
    Health& h = health_;
    ++h.cycles;
    h.requests += update.requests;
    h.failedRequests += update.failedKinds.size();
    for (const std::string& kind : update.failedKinds) {
        ++h.failures[kind];
    }
    h.lastCycleSeconds = update.seconds;
    h.maxCycleSeconds = std::max(h.maxCycleSeconds, update.seconds);
    h.cycleSecondsSum += update.seconds;
    for (size_t b = 0; b < CycleBuckets.size(); ++b) {
        if (update.seconds <= CycleBuckets[b]) {
            ++h.bucketCounts[b];
        }
    }
    recentCycles_.push_back(update.seconds);
    if (recentCycles_.size() > MedianWindow) {
        recentCycles_.pop_front();
    }
    std::vector<double> sorted(recentCycles_.begin(), recentCycles_.end());
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<long>(sorted.size() / 2),
                     sorted.end());
    h.medianCycleSeconds = sorted[sorted.size() / 2];
    h.up = update.up;
    h.lineProblem = update.lineProblem;
    changedLocked();
}

void LineState::publishReading(size_t index, const TagReadingState& reading) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (index < readings_.size()) {
        readings_[index] = reading;
        changedLocked();
    }
}

nlohmann::json LineState::tagJsonLocked(size_t index) const {
    const TagInfo& tag = tags_[index];
    const TagReadingState& r = readings_[index];
    nlohmann::json error;
    if (r.read && !r.ok) {
        error = {{"code", r.code}, {"text", r.text}};
    }
    return {{"name", tag.name},
            {"tag", tag.address},
            {"type", tag.type},
            {"writable", tag.writable},
            {"value", r.ok ? r.value : nlohmann::json()},
            {"error", error},
            {"time", r.read ? nlohmann::json(isoTime(r.timeMs)) : nlohmann::json()}};
}

nlohmann::json LineState::tagsJson() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    nlohmann::json list = nlohmann::json::array();
    for (size_t i = 0; i < tags_.size(); ++i) {
        list.push_back(tagJsonLocked(i));
    }
    return list;
}

nlohmann::json LineState::tagJson(size_t index) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return index < tags_.size() ? tagJsonLocked(index) : nlohmann::json();
}

nlohmann::json LineState::healthJson() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    const Health& h = health_;
    return {{"line", name_},
            {"up", h.up},
            {"problem", h.lineProblem.empty() ? nlohmann::json() : nlohmann::json(h.lineProblem)},
            {"cycles", h.cycles},
            {"requests", h.requests},
            {"failed_requests", h.failedRequests},
            {"failures", h.failures},
            {"cycle_ms",
             {{"last", h.lastCycleSeconds * 1000},
              {"median", h.medianCycleSeconds * 1000},
              {"max", h.maxCycleSeconds * 1000}}}};
}

nlohmann::json LineState::trendsJson(const std::vector<std::string>& names) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    nlohmann::json out = nlohmann::json::object();
    for (size_t i = 0; i < tags_.size(); ++i) {
        const bool wanted =
            names.empty() ? readings_[i].number.has_value() || trends_[i].size() > 0
                          : std::find(names.begin(), names.end(), tags_[i].name) != names.end();
        if (!wanted) {
            continue;
        }
        nlohmann::json points = nlohmann::json::array();
        for (const TrendPoint& p : trends_[i].points()) {
            points.push_back({p.timeMs, p.value});
        }
        out[tags_[i].name] = std::move(points);
    }
    return out;
}

std::vector<TagReadingState> LineState::readings() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return readings_;
}

Health LineState::health() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return health_;
}

uint64_t LineState::version() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return version_;
}

uint64_t LineState::waitForChange(uint64_t seen, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return version_ != seen; });
    return version_;
}

void LineState::changedLocked() {
    ++version_;
    changed_.notify_all();
}

}  // namespace qarn::web
