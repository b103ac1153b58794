#pragma once
// One simulated slave: its memory built from a profile, its live values and the Modbus
// functions it serves. The device does not know its node address; the engine does.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "DataMap.h"
#include "Profile.h"

namespace sim {

class Device {
  public:
    // `seed` decides the phases and the noise of the live values.
    Device(const Profile& profile, uint64_t seed);

    const std::string& name() const { return name_; }
    bool ismgFraming() const { return ismg_; }
    const DataMap& map() const { return map_; }

    // Brings the live values to `timeMs` of simulated time. The values are a function of the
    // seed and the time alone, whatever was read before.
    void update(uint64_t timeMs);

    // Serves one bare request with a good CRC (functions 1-6 and 16): the bare answer with
    // CRC, or an exception answer. A broadcast (node 0) applies a valid write and returns
    // nothing; so does any other request to node 0.
    std::vector<uint8_t> serve(const uint8_t* frame, size_t length);

  private:
    // A value that follows the simulated time until the master overwrites part of it.
    struct LiveCell {
        Area area;
        uint16_t first;
        ValueType type;
        bool lowWordFirst;
        bool active;
        double base;
        double rate;
        double amplitude;
        double period;
        double phase;
        double noise;
        uint64_t noiseKey;
    };

    void addEntry(const ProfileEntry& e, uint64_t seed);
    void stopLive(Area area, uint32_t first, uint32_t count);
    void store(Area area, uint32_t first, ValueType type, bool lowWordFirst, double value);
    std::vector<uint8_t> read(const uint8_t* frame, size_t length, Area area);
    std::vector<uint8_t> writeCoil(const uint8_t* frame, size_t length);
    std::vector<uint8_t> writeRegister(const uint8_t* frame, size_t length);
    std::vector<uint8_t> writeRegisters(const uint8_t* frame, size_t length);

    std::string name_;
    bool ismg_;
    DataMap map_;
    std::vector<LiveCell> live_;
};

}  // namespace sim
