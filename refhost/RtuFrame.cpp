#include "RtuFrame.h"

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

}  // namespace rtu
