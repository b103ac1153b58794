#include <qarn/rtu/Frame.h>

#include <cstring>

#include <qarn/rtu/Crc.h>
#include <qarn/rtu/FunctionCodes.h>

namespace rtu {

namespace {

// Diagnostics sub-function and fields of the slave-address frame, after node and function.
constexpr uint8_t SlaveAddressBody[] = {0x01, 0xCC, 0x02, 0x62, 0x00, 0x01};
// Fixed-size requests: node, function, two 16-bit fields, CRC.
constexpr size_t ShortRequestLength = 8;
// Write-multiple request without its values: node, function, address, quantity, byte count, CRC.
constexpr size_t WriteMultipleOverhead = 9;
// Read answer without its data: node, function, byte count, CRC.
constexpr size_t ReadAnswerOverhead = 5;

}  // namespace

bool isIsmgWrapped(const uint8_t* frame, size_t length) {
    return length >= 2 && frame[0] == IsmgStart && frame[length - 1] == IsmgEnd;
}

std::vector<uint8_t> wrapIsmg(const std::vector<uint8_t>& frame) {
    std::vector<uint8_t> wrapped;
    wrapped.reserve(frame.size() + 2);
    wrapped.push_back(IsmgStart);
    wrapped.insert(wrapped.end(), frame.begin(), frame.end());
    wrapped.push_back(IsmgEnd);
    return wrapped;
}

FrameView unwrap(const uint8_t* frame, size_t length) {
    if (!crcOk(frame, length) && isIsmgWrapped(frame, length) && crcOk(frame + 1, length - 2)) {
        return {frame + 1, length - 2, true};
    }
    return {frame, length, false};
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
            return ShortRequestLength;
        case Diagnostics:
            // Plain diagnostics are short requests; the slave-address frame is told apart by
            // its sub-function.
            if (length < 4) {
                return 0;
            }
            return frame[2] == SlaveAddressBody[0] && frame[3] == SlaveAddressBody[1]
                       ? SlaveAddressFrameLength
                       : ShortRequestLength;
        case WriteMultipleRegisters:
            return length < 7 ? 0 : WriteMultipleOverhead + size_t{frame[6]};
        default:
            return 0;
    }
}

size_t expectedAnswerLength(const uint8_t* request, size_t length) {
    if (length < MinFrameLength || requestLength(request, length) != length) {
        return 0;
    }
    const uint32_t quantity = be16(request + 4);
    switch (request[1]) {
        case ReadCoils:
        case ReadDiscreteInputs:
            return quantity >= 1 && quantity <= MaxReadBits
                       ? ReadAnswerOverhead + (quantity + 7) / 8
                       : 0;
        case ReadHoldingRegisters:
        case ReadInputRegisters:
            return quantity >= 1 && quantity <= MaxReadRegisters ? ReadAnswerOverhead + 2 * quantity
                                                                 : 0;
        case WriteSingleCoil:
        case WriteSingleRegister:
            return ShortRequestLength;  // the echo
        case WriteMultipleRegisters:
            return ShortRequestLength;  // node, function, address, quantity, CRC
        case Diagnostics:
            return isSlaveAddressFrame(request, length) ? SlaveAddressFrameLength : 0;  // echo
        default:
            return 0;
    }
}

bool isCompleteRequest(const uint8_t* bytes, size_t length) {
    const FrameView view = unwrap(bytes, length);
    if (view.length < MinFrameLength) {
        return false;
    }
    const size_t need = requestLength(view.data, view.length);
    return (need == 0 || need == view.length) && crcOk(view.data, view.length);
}

bool isCompleteAnswer(const uint8_t* request, size_t requestSize, const uint8_t* answer,
                      size_t answerSize) {
    const FrameView req = unwrap(request, requestSize);
    if (!crcOk(req.data, req.length)) {
        return false;
    }
    FrameView ans{answer, answerSize, false};
    if (req.wrapped) {
        if (!isIsmgWrapped(answer, answerSize)) {
            return false;
        }
        ans = {answer + 1, answerSize - 2, true};
    }
    if (ans.length == ExceptionLength && ans.data[1] == (req.data[1] | ExceptionFlag)) {
        return crcOk(ans.data, ans.length);
    }
    const size_t expected = expectedAnswerLength(req.data, req.length);
    return expected != 0 && ans.length == expected && crcOk(ans.data, ans.length);
}

}  // namespace rtu
