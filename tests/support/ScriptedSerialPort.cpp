#include "ScriptedSerialPort.h"

#include <stdexcept>

namespace qarntest {

Bytes hexBytes(const std::string& hex) {
    std::string digits = hex;
    digits.erase(std::remove(digits.begin(), digits.end(), ' '), digits.end());
    if (digits.size() % 2 != 0 ||
        digits.find_first_not_of("0123456789abcdefABCDEF") != digits.npos) {
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
    for (uint8_t byte : bytes) {
        out += (out.empty() ? "" : " ") +
               std::string{"0123456789ABCDEF"[byte >> 4], "0123456789ABCDEF"[byte & 15]};
    }
    return out;
}

Bytes withCrc(Bytes frame) {
    uint16_t crc = 0xFFFF;
    for (uint8_t byte : frame) {
        crc ^= byte;
        for (int i = 0; i < 8; ++i) {
            crc = static_cast<uint16_t>((crc & 1u) != 0 ? (crc >> 1) ^ 0xA001u : crc >> 1);
        }
    }
    frame.insert(frame.end(), {static_cast<uint8_t>(crc & 0xFF), static_cast<uint8_t>(crc >> 8)});
    return frame;
}

Bytes ismgWrapped(const Bytes& frame) {
    Bytes out(frame.size() + 2, 0x0D);
    out.front() = 0x0A;
    std::copy(frame.begin(), frame.end(), out.begin() + 1);
    return out;
}

}  // namespace qarntest
