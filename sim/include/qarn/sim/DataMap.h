#pragma once
// The memory of one simulated slave: coils, discrete inputs, holding and input registers, each
// item either present or not, and coils and holding registers either writable or not.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

enum class Area : uint8_t { Coils, DiscreteInputs, HoldingRegisters, InputRegisters };
constexpr size_t AreaCount = 4;
// Items per area: Modbus addresses are 16 bits wide.
constexpr uint32_t AreaSize = 65536;

class DataMap {
  public:
    // Makes items [first, first + count) present with the given value; a later definition of
    // the same item replaces value and access. Bits hold 0 or 1.
    void define(Area area, uint32_t first, uint32_t count, uint16_t value, bool writable);

    // True when any item of the area is present (a device without coils, say, has none).
    bool hasArea(Area area) const { return !block(area).values.empty(); }
    // True when every item of [first, first + count) is present (and writable).
    bool present(Area area, uint32_t first, uint32_t count) const;
    bool writable(Area area, uint32_t first, uint32_t count) const;

    // Unchecked access; the caller has tested presence.
    uint16_t get(Area area, uint16_t address) const { return block(area).values[address]; }
    void set(Area area, uint16_t address, uint16_t value) { block(area).values[address] = value; }

  private:
    enum : uint8_t { Present = 1, Writable = 2 };
    struct Block {
        std::vector<uint16_t> values;  // empty until the first definition
        std::vector<uint8_t> flags;
    };
    bool allFlags(Area area, uint32_t first, uint32_t count, uint8_t mask) const;
    Block& block(Area area) { return blocks_[static_cast<size_t>(area)]; }
    const Block& block(Area area) const { return blocks_[static_cast<size_t>(area)]; }

    std::array<Block, AreaCount> blocks_;
};

}  // namespace sim
