#include <qarn/web/TrendRing.h>

namespace qarn::web {

TrendRing::TrendRing(size_t capacity, int64_t spacingMs)
    : ring_(capacity > 0 ? capacity : 1), spacingMs_(spacingMs) {}

void TrendRing::add(TrendPoint point) {
    if (count_ > 0) {
        const TrendPoint& last = ring_[(next_ + ring_.size() - 1) % ring_.size()];
        // A clock set back starts over rather than leaving a plot that runs backwards.
        if (point.timeMs < last.timeMs) {
            count_ = 0;
            next_ = 0;
        } else if (point.timeMs - last.timeMs < spacingMs_) {
            return;
        }
    }
    ring_[next_] = point;
    next_ = (next_ + 1) % ring_.size();
    if (count_ < ring_.size()) {
        ++count_;
    }
}

std::vector<TrendPoint> TrendRing::points() const {
    std::vector<TrendPoint> out;
    out.reserve(count_);
    const size_t first = (next_ + ring_.size() - count_) % ring_.size();
    for (size_t i = 0; i < count_; ++i) {
        out.push_back(ring_[(first + i) % ring_.size()]);
    }
    return out;
}

}  // namespace qarn::web
