#pragma once
// The recent history of one numeric tag for the trend plot: a fixed number of points, at least
// a minimum spacing apart, so that the ring spans the same time whatever the poll interval.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qarn::web {

struct TrendPoint {
    int64_t timeMs;  // milliseconds since the epoch
    double value;
};

class TrendRing {
  public:
    // 1200 points 500 ms apart: ten minutes, about 19 KB per tag.
    static constexpr size_t DefaultCapacity = 1200;
    static constexpr int64_t DefaultSpacingMs = 500;

    explicit TrendRing(size_t capacity = DefaultCapacity, int64_t spacingMs = DefaultSpacingMs);

    // Keeps the point unless it comes sooner than the spacing after the last one kept; the oldest
    // point goes when the ring is full.
    void add(TrendPoint point);
    // Oldest first.
    std::vector<TrendPoint> points() const;
    size_t size() const { return count_; }

  private:
    std::vector<TrendPoint> ring_;
    size_t next_ = 0;
    size_t count_ = 0;
    int64_t spacingMs_;
};

}  // namespace qarn::web
