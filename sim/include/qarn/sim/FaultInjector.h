#pragma once
// Faults a real RS-485 line shows, injected into the answers of the simulated slaves, each
// either with a probability or on every n-th request (or both), reproducibly for a seed.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

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

// How the random extra wait of every answer is distributed.
enum class Jitter : uint8_t {
    Uniform,      // 0 .. jitterMs, each whole ms equally likely
    Exponential,  // mean jitterMs, cut at MaxJitterMeans times the mean
};
constexpr uint32_t MaxJitterMeans = 8;

const char* jitterName(Jitter jitter);

struct FaultRule {
    double probability = 0;  // 0 .. 1
    uint32_t every = 0;      // every n-th request; 0 for never
};

struct FaultConfig {
    std::array<FaultRule, FaultCount> rules{};
    uint32_t delayMs = 0;                        // how late a delayed answer comes
    uint8_t exceptionCode = rtu::DeviceFailure;  // exception sent by the Exception fault

    // The nodes this configuration is about; empty for every node. Requests to other nodes are
    // neither faulted nor counted for "every n-th", and their answers keep their own pace.
    std::vector<uint8_t> nodes;
    // Every answer of those nodes waits latencyMs plus a random extra of up to (uniform) or on
    // average (exponential) jitterMs before it starts; a delayed answer delayMs more.
    uint32_t latencyMs = 0;
    uint32_t jitterMs = 0;
    Jitter jitter = Jitter::Uniform;

    FaultRule& rule(Fault f) { return rules[static_cast<size_t>(f)]; }
    const FaultRule& rule(Fault f) const { return rules[static_cast<size_t>(f)]; }
    bool covers(uint8_t node) const;
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

    // The faults for the next request that a device of a covered node would answer. Each fault
    // draws from its own stream, so switching one fault on does not change when another one
    // strikes.
    FaultSet next();
    // How long the next answer of a covered node waits before it starts: latency, jitter and,
    // when `delayed`, delayMs. The jitter has a stream of its own too.
    uint32_t answerDelayMs(bool delayed);
    const FaultConfig& config() const { return config_; }

  private:
    FaultConfig config_;
    std::array<Random, FaultCount> random_;
    Random jitterRandom_;
    uint64_t requests_ = 0;
};

}  // namespace sim
