#pragma once
// Deterministic pseudo-random numbers for the simulator. The standard distributions are
// implementation-defined, so a seed would not give the same values everywhere; SplitMix64 does.

#include <cstdint>

namespace sim {

// One SplitMix64 scrambling step: a good 64-bit hash of x.
inline uint64_t mix64(uint64_t x) {
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

// Uniform value in [0, 1) from the top 53 bits of a hash.
inline double unitInterval(uint64_t bits) {
    return static_cast<double>(bits >> 11) * (1.0 / 9007199254740992.0);
}

class Random {
  public:
    explicit Random(uint64_t seed) : state_(seed) {}

    uint64_t next() {
        const uint64_t x = state_;
        state_ += 0x9E3779B97F4A7C15ULL;
        return mix64(x);
    }
    double uniform() { return unitInterval(next()); }

  private:
    uint64_t state_;
};

}  // namespace sim
