#pragma once
// Frames as hex text for the simulator tests: "01 03 00 00 00 0A" plus the CRC.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "SlaveFrames.h"

namespace simtest {

inline std::vector<uint8_t> bytes(const std::string& hexText) {
    std::istringstream in(hexText);
    std::vector<uint8_t> out;
    for (std::string b; in >> b;) {
        out.push_back(static_cast<uint8_t>(std::strtoul(b.c_str(), nullptr, 16)));
    }
    return out;
}

// The bytes with their CRC appended.
inline std::vector<uint8_t> frame(const std::string& hexText) {
    std::vector<uint8_t> f = bytes(hexText);
    sim::appendCrc(f);
    return f;
}

// The bytes with their CRC, inside the ISMG wrapper.
inline std::vector<uint8_t> ismg(const std::string& hexText) {
    return sim::wrapIsmg(frame(hexText));
}

inline std::string hex(const std::vector<uint8_t>& b) {
    std::string s;
    char item[4];
    for (uint8_t v : b) {
        std::snprintf(item, sizeof item, s.empty() ? "%02X" : " %02X", v);
        s += item;
    }
    return s;
}

}  // namespace simtest
