#include <qarn/rtu/Crc.h>

#include <array>

namespace rtu {

namespace {

constexpr uint16_t Polynomial = 0xA001;  // 0x8005 bit-reversed: the CRC shifts right

// Entry n: the CRC register after shifting the byte n through it bit by bit.
constexpr std::array<uint16_t, 256> makeTable() {
    std::array<uint16_t, 256> table{};
    for (unsigned n = 0; n < 256; ++n) {
        unsigned crc = n;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1U) != 0 ? (crc >> 1) ^ Polynomial : crc >> 1;
        }
        table[n] = static_cast<uint16_t>(crc);
    }
    return table;
}

constexpr std::array<uint16_t, 256> Table = makeTable();

}  // namespace

uint16_t crc16(const uint8_t* data, size_t length) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < length; ++i) {
        crc = static_cast<uint16_t>((crc >> 8) ^ Table[(crc ^ data[i]) & 0xFFU]);
    }
    return crc;
}

bool crcOk(const uint8_t* frame, size_t length) {
    if (length < 3) {
        return false;
    }
    const uint16_t crc = crc16(frame, length - 2);
    return frame[length - 2] == (crc & 0xFFU) && frame[length - 1] == (crc >> 8);
}

void putCrc(uint8_t* frame, size_t length) {
    const uint16_t crc = crc16(frame, length);
    frame[length] = static_cast<uint8_t>(crc & 0xFFU);
    frame[length + 1] = static_cast<uint8_t>(crc >> 8);
}

void appendCrc(std::vector<uint8_t>& frame) {
    const size_t n = frame.size();
    frame.resize(n + 2);
    putCrc(frame.data(), n);
}

}  // namespace rtu
