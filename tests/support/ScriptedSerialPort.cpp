#include "ScriptedSerialPort.h"

#include <stdexcept>

#include <qarn/rtu/Crc.h>
#include <qarn/rtu/Frame.h>

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
    rtu::appendCrc(frame);
    return frame;
}

Bytes ismgWrapped(const Bytes& frame) {
    return rtu::wrapIsmg(frame);
}

}  // namespace qarntest
