#pragma once
// The simulated line without any I/O: frames in, answers out. It holds the devices by node
// address, routes each request, applies broadcasts, injects faults and handles the ISMG
// wrapper and slave-address frame. Time is passed in, so tests drive it at will.

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "Device.h"
#include "FaultInjector.h"
#include "Profile.h"

namespace sim {

struct Reply {
    std::vector<uint8_t> bytes;  // as sent on the line (wrapped for ISMG devices)
    uint32_t delayMs = 0;        // extra wait before sending: latency, jitter, delay fault
};

struct EngineStats {
    uint64_t frames = 0;      // frames handed in
    uint64_t ignored = 0;     // bad CRC, unknown node or foreign framing: no answer
    uint64_t answers = 0;     // answers sent, exceptions included
    uint64_t exceptions = 0;  // exception answers sent
    uint64_t broadcasts = 0;  // frames to node 0
    std::array<uint64_t, FaultCount> faults{};  // faults that took effect, by Fault
};

class SlaveEngine {
  public:
    // `seed` decides the live values of every device and the injected faults.
    explicit SlaveEngine(uint64_t seed = 1);

    // Adds a device at `node` (1..247); throws std::invalid_argument for a bad or used node.
    Device& addDevice(uint8_t node, const Profile& profile);
    Device* device(uint8_t node);
    const std::map<uint8_t, std::unique_ptr<Device>>& devices() const { return devices_; }

    // The seed given at construction; the line runner derives its own streams from it.
    uint64_t seed() const { return seed_; }

    void setFaults(const FaultConfig& config);

    // Handles one frame as received (bare or wrapped) at `timeMs` of simulated time; returns
    // the answer to send, if any.
    std::optional<Reply> process(const uint8_t* frame, size_t length, uint64_t timeMs);

    const EngineStats& stats() const { return stats_; }

  private:
    std::vector<uint8_t> changeAddress(uint8_t node, const uint8_t* frame, size_t length);
    void broadcast(const uint8_t* frame, size_t length, bool wrapped);

    uint64_t seed_;
    std::map<uint8_t, std::unique_ptr<Device>> devices_;
    FaultInjector faults_;
    EngineStats stats_;
};

}  // namespace sim
