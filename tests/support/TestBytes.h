#pragma once
// Frames for the tables: "01 03 00 00" with its CRC appended; in brackets, also in the ISMG
// wrapper.

#include <cstdint>
#include <string>

#include "ScriptedSerialPort.h"

using qarntest::Bytes;
using qarntest::hexBytes;
using qarntest::toHex;

inline Bytes frame(const std::string& hex) {
    const bool wrap = !hex.empty() && hex.front() == '[';
    const Bytes f = qarntest::withCrc(hexBytes(wrap ? hex.substr(1, hex.size() - 2) : hex));
    return wrap ? qarntest::ismgWrapped(f) : f;
}

// The frame with its last byte's bits in `mask` flipped: a broken CRC.
inline Bytes withBrokenCrc(Bytes f, uint8_t mask = 0x01) {
    if (!f.empty()) {
        f[f.size() - 1] = static_cast<uint8_t>(f[f.size() - 1] ^ mask);
    }
    return f;
}
