#include "ScriptedSerialPort.h"

#include <cstdio>
#include <iterator>
#include <stdexcept>

namespace qarntest {

Bytes hexBytes(const std::string& hex) {
    std::string digits;
    std::copy_if(hex.begin(), hex.end(), std::back_inserter(digits),
                 [](char c) { return c != ' '; });
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

int ScriptedSerialPort::Receive(uint8_t* buffer, int size, int timeoutMs, int interCharMs,
                                int* received, int flags) {
    record({Op::Receive,
            0,
            {},
            {},
            size,
            timeoutMs,
            interCharMs,
            received != nullptr ? *received : -1,
            flags});
    if (script_.empty() || received == nullptr) {
        return 0;
    }
    const Entry entry = std::move(script_.front());
    script_.pop_front();
    *received = std::max(0, std::min(static_cast<int>(entry.bytes.size()), size));
    std::copy(entry.bytes.begin(), entry.bytes.begin() + *received, buffer);
    return entry.delivers ? 1 : 0;
}

std::vector<Bytes> ScriptedSerialPort::requests() const {
    std::vector<Bytes> frames;
    for (const Call& call : calls_) {
        if (call.op == Op::Send) {
            frames.push_back(call.bytes);
        }
    }
    return frames;
}

}  // namespace qarntest
