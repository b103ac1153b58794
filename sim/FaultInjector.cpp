#include <qarn/sim/FaultInjector.h>

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

FaultInjector::FaultInjector(const FaultConfig& config, uint64_t seed)
    : config_(config),
      random_{Random(mix64(seed ^ 1)), Random(mix64(seed ^ 2)), Random(mix64(seed ^ 3)),
              Random(mix64(seed ^ 4)), Random(mix64(seed ^ 5))} {}

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

}  // namespace sim
