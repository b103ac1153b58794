#include <qarn/rtu/RtuFrame.h>

namespace rtu {

uint16_t crc16(const uint8_t* data, size_t length) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1U) != 0 ? static_cast<uint16_t>((crc >> 1) ^ 0xA001U)
                                  : static_cast<uint16_t>(crc >> 1);
        }
    }
    return crc;
}

bool crcOk(const uint8_t* frame, size_t length) {
    if (length < 3) {
        return false;
    }
    const uint16_t crc = crc16(frame, length - 2);
    return frame[length - 2] == (crc & 0xFF) && frame[length - 1] == (crc >> 8);
}

void putCrc(uint8_t* frame, size_t length) {
    const uint16_t crc = crc16(frame, length);
    frame[length] = static_cast<uint8_t>(crc & 0xFF);
    frame[length + 1] = static_cast<uint8_t>(crc >> 8);
}

bool isIsmgWrapped(const uint8_t* frame, size_t length) {
    return length >= 2 && frame[0] == IsmgStart && frame[length - 1] == IsmgEnd;
}

size_t expectedAnswerLength(const uint8_t* request, size_t length) {
    if (length < 4) {
        return 0;
    }
    const unsigned count = length >= 6 ? (unsigned{request[4]} << 8) | request[5] : 0;
    switch (request[1]) {
        case 1:
        case 2:
            return length == 8 ? 5 + (count + 7) / 8 : 0;
        case 3:
        case 4:
            return length == 8 ? 5 + 2 * count : 0;
        case 5:
        case 6:
            return length == 8 ? 8 : 0;
        case 16:
            return length >= 9 ? 8 : 0;
        case 8:
            // Slave-address frame of the ISMG devices: answered by its echo.
            return length == 11 ? 11 : 0;
        default:
            return 0;
    }
}

FrameView unwrap(const uint8_t* frame, size_t length) {
    if (!crcOk(frame, length) && isIsmgWrapped(frame, length) && crcOk(frame + 1, length - 2)) {
        return {frame + 1, length - 2, true};
    }
    return {frame, length, false};
}

bool isCompleteAnswer(const uint8_t* request, size_t requestLength, const uint8_t* answer,
                      size_t answerLength) {
    const FrameView req = unwrap(request, requestLength);
    if (!crcOk(req.data, req.length)) {
        return false;
    }
    const uint8_t* inner = answer;
    size_t innerLength = answerLength;
    if (req.wrapped) {
        if (!isIsmgWrapped(answer, answerLength)) {
            return false;
        }
        ++inner;
        innerLength -= 2;
    }
    if (innerLength == ExceptionLength && inner[1] == (req.data[1] | ExceptionFlag)) {
        return crcOk(inner, innerLength);
    }
    const size_t expected = expectedAnswerLength(req.data, req.length);
    return expected != 0 && innerLength == expected && crcOk(inner, innerLength);
}

const char* functionName(uint8_t function) {
    switch (function) {
        case 1:
            return "read coils";
        case 2:
            return "read discrete inputs";
        case 3:
            return "read holding registers";
        case 4:
            return "read input registers";
        case 5:
            return "write single coil";
        case 6:
            return "write single register";
        case 8:
            return "set slave address";
        case 16:
            return "write multiple registers";
        default:
            return nullptr;
    }
}

const char* exceptionName(uint8_t code) {
    switch (code) {
        case 1:
            return "illegal function";
        case 2:
            return "illegal data address";
        case 3:
            return "illegal data value";
        case 4:
            return "slave device failure";
        case 5:
            return "acknowledge";
        case 6:
            return "slave device busy";
        case 8:
            return "memory parity error";
        case 10:
            return "gateway path unavailable";
        case 11:
            return "gateway target device failed to respond";
        default:
            return nullptr;
    }
}

}  // namespace rtu
