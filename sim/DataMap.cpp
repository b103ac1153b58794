#include <qarn/sim/DataMap.h>

#include <stdexcept>

namespace sim {

void DataMap::define(Area area, uint32_t first, uint32_t count, uint16_t value, bool writable) {
    if (first >= AreaSize || count > AreaSize - first) {
        throw std::out_of_range("item range outside the 16-bit address space");
    }
    Block& b = block(area);
    if (b.values.empty()) {
        b.values.assign(AreaSize, 0);
        b.flags.assign(AreaSize, 0);
    }
    const uint8_t flags = static_cast<uint8_t>(Present | (writable ? Writable : 0));
    for (uint32_t i = first; i < first + count; ++i) {
        b.values[i] = value;
        b.flags[i] = flags;
    }
}

bool DataMap::allFlags(Area area, uint32_t first, uint32_t count, uint8_t mask) const {
    const Block& b = block(area);
    if (b.values.empty() || first >= AreaSize || count > AreaSize - first) {
        return false;
    }
    for (uint32_t i = first; i < first + count; ++i) {
        if ((b.flags[i] & mask) != mask) {
            return false;
        }
    }
    return true;
}

bool DataMap::present(Area area, uint32_t first, uint32_t count) const {
    return allFlags(area, first, count, Present);
}

bool DataMap::writable(Area area, uint32_t first, uint32_t count) const {
    return allFlags(area, first, count, Present | Writable);
}

}  // namespace sim
