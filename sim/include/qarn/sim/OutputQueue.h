#pragma once
// Bytes on their way from the line to the master, each at the time it is on the line. With a
// burst interval they are handed over only at the interval's boundaries, everything that came
// meanwhile at once, the way a USB adapter's latency timer delivers them.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace sim {

class OutputQueue {
  public:
    // Boundaries fall at originUs + k * burstUs; burstUs 0 hands each byte over at its time.
    explicit OutputQueue(uint64_t originUs = 0, uint64_t burstUs = 0)
        : originUs_(originUs), burstUs_(burstUs) {}

    // A byte on the line at `lineUs` (not before the origin). Bytes of equal times keep the
    // order they were added in.
    void add(uint64_t lineUs, uint8_t byte) { bytes_.emplace(lineUs, byte); }
    // When take() has something next; empty when nothing is queued.
    std::optional<uint64_t> due() const;
    // Everything due by `nowUs`, in line order.
    std::vector<uint8_t> take(uint64_t nowUs);

    bool empty() const { return bytes_.empty(); }
    size_t size() const { return bytes_.size(); }

  private:
    uint64_t deliveryUs(uint64_t lineUs) const;

    uint64_t originUs_;
    uint64_t burstUs_;
    std::multimap<uint64_t, uint8_t> bytes_;  // by line time
};

}  // namespace sim
