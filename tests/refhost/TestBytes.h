#pragma once
// Hex text to bytes and back for frame tables.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "RtuFrame.h"

namespace testbytes {

using Bytes = std::vector<uint8_t>;

// "01 03 00 00" -> bytes; blanks are ignored.
inline Bytes hex(const std::string& text) {
    Bytes out;
    int hi = -1;
    for (const char c : text) {
        int v;
        if (c >= '0' && c <= '9') {
            v = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            v = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            v = c - 'A' + 10;
        } else {
            continue;
        }
        if (hi < 0) {
            hi = v;
        } else {
            out.push_back(static_cast<uint8_t>(hi * 16 + v));
            hi = -1;
        }
    }
    return out;
}

// The frame with its CRC appended.
inline Bytes withCrc(Bytes frame) {
    const size_t n = frame.size();
    frame.resize(n + 2);
    rtu::putCrc(frame.data(), n);
    return frame;
}

inline Bytes withCrc(const std::string& text) {
    return withCrc(hex(text));
}

// The frame inside the ISMG wrapper.
inline Bytes wrapped(const Bytes& frame) {
    Bytes out(frame.size() + 2);
    out.front() = rtu::IsmgStart;
    std::copy(frame.begin(), frame.end(), out.begin() + 1);
    out.back() = rtu::IsmgEnd;
    return out;
}

}  // namespace testbytes
