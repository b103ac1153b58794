#include "ScriptedSerialPort.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace qarntest {

Bytes hexBytes(const std::string& hex) {
    std::string digits;
    for (char c : hex) {
        if (c != ' ') {
            digits += c;
        }
    }
    if (digits.size() % 2 != 0 ||
        digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        throw std::invalid_argument("not hexadecimal bytes: " + hex);
    }
    Bytes out;
    for (size_t i = 0; i < digits.size(); i += 2) {
        out.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
    return out;
}

std::string toHex(const Bytes& bytes) {
    std::string out;
    char digits[4];
    for (uint8_t byte : bytes) {
        std::snprintf(digits, sizeof(digits), out.empty() ? "%02X" : " %02X", byte);
        out += digits;
    }
    return out;
}

Bytes withCrc(Bytes frame) {
    uint16_t crc = 0xFFFF;
    for (uint8_t byte : frame) {
        crc ^= byte;
        for (int i = 0; i < 8; ++i) {
            crc = (crc & 1u) != 0 ? static_cast<uint16_t>((crc >> 1) ^ 0xA001u)
                                  : static_cast<uint16_t>(crc >> 1);
        }
    }
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return frame;
}

Bytes ismgWrapped(const Bytes& frame) {
    Bytes out(frame.size() + 2);
    out.front() = 0x0A;
    std::copy(frame.begin(), frame.end(), out.begin() + 1);
    out.back() = 0x0D;
    return out;
}

void ScriptedSerialPort::garbage(int count) {
    // A fixed pattern keeps runs reproducible; its tail is made to miss the CRC.
    Bytes noise;
    for (int i = 0; i < count; ++i) {
        noise.push_back(static_cast<uint8_t>(0x5A ^ (i * 37)));
    }
    if (count > 2 && withCrc(Bytes(noise.begin(), noise.end() - 2)) == noise) {
        noise.back() ^= 0xFF;
    }
    answer(noise);
}

int ScriptedSerialPort::onDrain(uint8_t*, int) {
    if (staleRounds_ == 0) {
        return 0;
    }
    --staleRounds_;
    return 1;
}

int ScriptedSerialPort::onReceive(uint8_t* buffer, int size, int* received) {
    if (script_.empty()) {
        return 0;
    }
    const Entry entry = script_.front();
    script_.pop_front();
    const int count = std::min(static_cast<int>(entry.bytes.size()), size);
    if (count > 0) {
        std::memcpy(buffer, entry.bytes.data(), static_cast<size_t>(count));
    }
    *received = count;
    return entry.delivers ? 1 : 0;
}

}  // namespace qarntest
