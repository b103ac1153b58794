#pragma once
// Hex text to frames for the frame tables.

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "RtuFrame.h"

namespace testbytes {

using Bytes = std::vector<uint8_t>;

// "01 03 00 00" -> bytes.
inline Bytes hex(const std::string& text) {
    Bytes out;
    std::istringstream in(text);
    unsigned v = 0;
    while (in >> std::hex >> v) {
        out.push_back(static_cast<uint8_t>(v));
    }
    return out;
}

inline Bytes withCrc(Bytes frame) {
    const size_t n = frame.size();
    frame.resize(n + 2);
    rtu::putCrc(frame.data(), n);
    return frame;
}

inline Bytes withCrc(const std::string& text) {
    return withCrc(hex(text));
}

inline Bytes wrapped(const Bytes& frame) {
    Bytes out(frame.size() + 2, rtu::IsmgStart);
    std::copy(frame.begin(), frame.end(), out.begin() + 1);
    out.back() = rtu::IsmgEnd;
    return out;
}

}  // namespace testbytes
