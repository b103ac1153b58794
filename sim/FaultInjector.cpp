#include <qarn/sim/FaultInjector.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace sim {

const char* faultName(Fault fault) {
    switch (fault) {
        case Fault::Drop:
            return "drop";
        case Fault::BadCrc:
            return "bad-crc";
        case Fault::WrongNode:
            return "wrong-node";
        case Fault::Exception:
            return "exception";
        case Fault::Delay:
            return "delay";
    }
    return "?";
}

const char* jitterName(Jitter jitter) {
    return jitter == Jitter::Exponential ? "exponential" : "uniform";
}

bool FaultConfig::covers(uint8_t node) const {
    return nodes.empty() || std::find(nodes.begin(), nodes.end(), node) != nodes.end();
}

FaultInjector::FaultInjector(const FaultConfig& config, uint64_t seed)
    : config_(config),
      random_{Random(mix64(seed ^ 1)), Random(mix64(seed ^ 2)), Random(mix64(seed ^ 3)),
              Random(mix64(seed ^ 4)), Random(mix64(seed ^ 5))},
      jitterRandom_(mix64(seed ^ 6)) {}

FaultSet FaultInjector::next() {
    ++requests_;
    FaultSet set;
    for (size_t i = 0; i < FaultCount; ++i) {
        const FaultRule& r = config_.rules[i];
        const double draw = random_[i].uniform();
        const bool nth = r.every != 0 && requests_ % r.every == 0;
        if (nth || draw < r.probability) {
            set.add(static_cast<Fault>(i));
        }
    }
    return set;
}

uint32_t FaultInjector::answerDelayMs(bool delayed) {
    double extra = 0;
    if (config_.jitterMs != 0) {
        const double mean = config_.jitterMs;
        const double u = jitterRandom_.uniform();
        extra = config_.jitter == Jitter::Exponential
                    ? std::min(std::round(-mean * std::log1p(-u)), mean * MaxJitterMeans)
                    : std::floor(u * (mean + 1));
    }
    const double total =
        extra + config_.latencyMs + (delayed ? static_cast<double>(config_.delayMs) : 0.0);
    return static_cast<uint32_t>(std::min(total, double{std::numeric_limits<uint32_t>::max()}));
}

}  // namespace sim
