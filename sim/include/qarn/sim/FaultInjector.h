#pragma once
// Faults a real RS-485 line shows, injected into the answers of the simulated slaves, each
// either with a probability or on every n-th request (or both), reproducibly for a seed.

#include <array>
#include <cstddef>
#include <cstdint>

#include <qarn/rtu/FunctionCodes.h>
#include "Random.h"

namespace sim {

enum class Fault : uint8_t {
    Drop,       // the request is lost: nothing is done, nothing answered
    BadCrc,     // the answer arrives with a broken CRC
    WrongNode,  // the answer carries another node's address
    Exception,  // the device refuses with an exception instead of serving the request
    Delay,      // the answer comes late
};
constexpr size_t FaultCount = 5;

const char* faultName(Fault fault);

struct FaultRule {
    double probability = 0;  // 0 .. 1
    uint32_t every = 0;      // every n-th request; 0 for never
};

struct FaultConfig {
    std::array<FaultRule, FaultCount> rules{};
    uint32_t delayMs = 0;                        // how late a delayed answer comes
    uint8_t exceptionCode = rtu::DeviceFailure;  // exception sent by the Exception fault

    FaultRule& rule(Fault f) { return rules[static_cast<size_t>(f)]; }
    const FaultRule& rule(Fault f) const { return rules[static_cast<size_t>(f)]; }
};

// A set of faults, one bit per Fault.
class FaultSet {
  public:
    bool has(Fault f) const { return (bits_ & bit(f)) != 0; }
    void add(Fault f) { bits_ = static_cast<uint8_t>(bits_ | bit(f)); }
    bool empty() const { return bits_ == 0; }

  private:
    static uint8_t bit(Fault f) { return static_cast<uint8_t>(1u << static_cast<unsigned>(f)); }
    uint8_t bits_ = 0;
};

class FaultInjector {
  public:
    FaultInjector(const FaultConfig& config, uint64_t seed);

    // The faults for the next request that a device would answer. Each fault draws from its
    // own stream, so switching one fault on does not change when another one strikes.
    FaultSet next();
    const FaultConfig& config() const { return config_; }

  private:
    FaultConfig config_;
    std::array<Random, FaultCount> random_;
    uint64_t requests_ = 0;
};

}  // namespace sim
