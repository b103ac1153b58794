#include <qarn/sim/OutputQueue.h>

namespace sim {

uint64_t OutputQueue::deliveryUs(uint64_t lineUs) const {
    if (burstUs_ == 0 || lineUs <= originUs_) {
        return lineUs;
    }
    const uint64_t bursts = (lineUs - originUs_ + burstUs_ - 1) / burstUs_;
    return originUs_ + bursts * burstUs_;
}

std::optional<uint64_t> OutputQueue::due() const {
    if (bytes_.empty()) {
        return std::nullopt;
    }
    return deliveryUs(bytes_.begin()->first);
}

std::vector<uint8_t> OutputQueue::take(uint64_t nowUs) {
    std::vector<uint8_t> out;
    auto it = bytes_.begin();
    // Delivery times grow with line times, so what is due is a prefix.
    for (; it != bytes_.end() && deliveryUs(it->first) <= nowUs; ++it) {
        out.push_back(it->second);
    }
    bytes_.erase(bytes_.begin(), it);
    return out;
}

}  // namespace sim
