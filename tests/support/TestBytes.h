#pragma once
// Frames for the tables: "01 03 00 00" with its CRC appended; in brackets, also in the ISMG
// wrapper.

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
