#include <qarn/sim/SlaveFrames.h>

#include <cstring>

#include <qarn/rtu/RtuFrame.h>

namespace sim {

namespace {
constexpr uint8_t SlaveAddressBody[] = {0x01, 0xCC, 0x02, 0x62, 0x00, 0x01};
}

void appendCrc(std::vector<uint8_t>& frame) {
    const size_t n = frame.size();
    frame.resize(n + 2);
    rtu::putCrc(frame.data(), n);
}

std::vector<uint8_t> exceptionAnswer(uint8_t node, uint8_t function, uint8_t code) {
    std::vector<uint8_t> f{node, static_cast<uint8_t>(function | rtu::ExceptionFlag), code};
    appendCrc(f);
    return f;
}

std::vector<uint8_t> wrapIsmg(const std::vector<uint8_t>& frame) {
    std::vector<uint8_t> w;
    w.reserve(frame.size() + 2);
    w.push_back(rtu::IsmgStart);
    w.insert(w.end(), frame.begin(), frame.end());
    w.push_back(rtu::IsmgEnd);
    return w;
}

bool isSlaveAddressFrame(const uint8_t* frame, size_t length) {
    return length == SlaveAddressFrameLength && frame[1] == Diagnostics &&
           std::memcmp(frame + 2, SlaveAddressBody, sizeof SlaveAddressBody) == 0;
}

size_t requestLength(const uint8_t* frame, size_t length) {
    if (length < 2) {
        return 0;
    }
    switch (frame[1]) {
        case ReadCoils:
        case ReadDiscreteInputs:
        case ReadHoldingRegisters:
        case ReadInputRegisters:
        case WriteSingleCoil:
        case WriteSingleRegister:
            return 8;
        case Diagnostics:
            // Plain diagnostics carry 8 bytes; the slave-address frame 11, told apart by its
            // sub-function.
            if (length < 4) {
                return 0;
            }
            return frame[2] == SlaveAddressBody[0] && frame[3] == SlaveAddressBody[1]
                       ? SlaveAddressFrameLength
                       : 8;
        case WriteMultipleRegisters:
            return length < 7 ? 0 : 9 + size_t{frame[6]};
        default:
            return 0;
    }
}

}  // namespace sim
