#include <qarn/driver/ModbusFrame.h>

#include <cstring>

namespace ModbusFrameN {

namespace {

void putWord(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value >> 8);
    at[1] = static_cast<uint8_t>(value & 0xFF);
}

uint16_t getWord(const uint8_t* at) {
    return static_cast<uint16_t>((at[0] << 8) | at[1]);
}

// Slave-address frame before the new address: node, 0x08, then a fixed sub-function block.
constexpr uint8_t SlaveAddressBody[] = {SlaveAddressFunction, 0x01, 0xCC, 0x02, 0x62, 0x00, 0x01};

}  // namespace

// One copy of the loop for every builder and check, out of line.
[[gnu::noinline]] uint16_t crc16(const uint8_t* data, int length) {
    uint32_t crc = 0xFFFF;
    for (int i = 0; i < length; ++i) {
        crc ^= data[i];
#pragma GCC unroll 8
        for (int bit = 0; bit < 8; ++bit) {
            // The polynomial goes in when the bit shifted out is 1. A mask made from that bit
            // instead of a test: a branch on it would be mispredicted half of the time.
            crc = (crc >> 1) ^ (0xA001u & (0u - (crc & 1u)));
        }
    }
    return static_cast<uint16_t>(crc);
}

int appendCrc(uint8_t* frame, int length) {
    const uint16_t crc = crc16(frame, length);
    frame[length] = static_cast<uint8_t>(crc & 0xFF);
    frame[length + 1] = static_cast<uint8_t>(crc >> 8);
    return length + CrcLength;
}

bool crcOk(const uint8_t* frame, int length) {
    if (length <= CrcLength) {
        return false;
    }
    const uint16_t crc = crc16(frame, length - CrcLength);
    return frame[length - 2] == (crc & 0xFF) && frame[length - 1] == (crc >> 8);
}

// node | function | address hi lo | count hi lo | CRC
int buildRead(uint8_t* out, uint8_t node, uint8_t function, uint16_t address, uint16_t count) {
    out[0] = node;
    out[1] = function;
    putWord(out + 2, address);
    putWord(out + 4, count);
    return appendCrc(out, 6);
}

// node | 5 | address hi lo | FF 00 (on) or 00 00 (off) | CRC
int buildWriteCoil(uint8_t* out, uint8_t node, uint16_t address, bool on) {
    out[0] = node;
    out[1] = WriteSingleCoil;
    putWord(out + 2, address);
    out[4] = on ? 0xFF : 0x00;
    out[5] = 0x00;
    return appendCrc(out, 6);
}

// node | 6 | address hi lo | value hi lo | CRC
int buildWriteRegister(uint8_t* out, uint8_t node, uint16_t address, uint16_t value) {
    out[0] = node;
    out[1] = WriteSingleRegister;
    putWord(out + 2, address);
    putWord(out + 4, value);
    return appendCrc(out, 6);
}

// node | 16 | address hi lo | count hi lo | byte count 2n | n values hi lo | CRC
int buildWriteRegisters(uint8_t* out, uint8_t node, uint16_t address, const uint8_t* image,
                        int count) {
    if (count < 0 || count > MaxWriteRegisters) {
        return 0;
    }
    out[0] = node;
    out[1] = WriteMultipleRegisters;
    putWord(out + 2, address);
    putWord(out + 4, static_cast<uint16_t>(count));
    out[6] = static_cast<uint8_t>(2 * count);
    for (int j = 0; j < count; ++j) {
        out[7 + 2 * j] = image[2 * j + 1];
        out[8 + 2 * j] = image[2 * j];
    }
    return appendCrc(out, 7 + 2 * count);
}

// node | 08 01 CC 02 62 00 01 | new address | CRC
int buildSlaveAddress(uint8_t* out, uint8_t node, uint8_t newAddress) {
    out[0] = node;
    std::memcpy(out + 1, SlaveAddressBody, sizeof(SlaveAddressBody));
    out[1 + sizeof(SlaveAddressBody)] = newAddress;
    return appendCrc(out, 2 + static_cast<int>(sizeof(SlaveAddressBody)));
}

int wrapIsmg(const uint8_t* frame, int length, uint8_t* out, int outSize) {
    if (length < 0 || length + 2 > outSize) {
        return 0;
    }
    out[0] = IsmgStart;
    std::memcpy(out + 1, frame, static_cast<size_t>(length));
    out[length + 1] = IsmgEnd;
    return length + 2;
}

int unwrapIsmg(uint8_t* frame, int length) {
    // A wrapper around fewer than 5 bytes cannot hold an answer.
    if (length <= ExceptionLength + 1 || frame[0] != IsmgStart || frame[length - 1] != IsmgEnd) {
        return -1;
    }
    std::memmove(frame, frame + 1, static_cast<size_t>(length - 2));
    return length - 2;
}

const char* exceptionText(uint8_t code) {
    switch (code) {
        case 1:
            return "Exception: Illegal function";
        case 2:
            return "Exception: Illegal data address";
        case 3:
            return "Exception: Illegal data value";
        case 4:
            return "Exception: Failure in device";
        default:
            return "Unknown exception";
    }
}

const char* checkHeader(const uint8_t* request, const uint8_t* answer, int length) {
    if (answer[0] != request[0]) {
        return "Incorrect node address in response";
    }
    if (length == ExceptionLength && answer[1] == (request[1] | ExceptionFlag)) {
        return exceptionText(answer[2]);
    }
    return nullptr;
}

// node | function | byte count N | N data bytes | CRC
const char* checkReadAnswer(const uint8_t* request, const uint8_t* answer, int length, bool bits,
                            int count) {
    if (const char* error = checkHeader(request, answer, length)) {
        return error;
    }
    if (answer[1] != request[1]) {
        return "Incorrect operation in response";
    }
    const int dataBytes = bits ? (count + 7) / 8 : 2 * count;
    if (length != dataBytes + 5) {
        return "Incorrect data length received";
    }
    // Registers: the field is compared as the byte that 2 x count leaves in it.
    const int countField = bits ? dataBytes : (dataBytes & 0xFF);
    if (answer[2] != countField) {
        return "Incorrect data length received";
    }
    return nullptr;
}

// Function 5 and 6 answer with the echo of the request, function 16 with address and count.
const char* checkWriteAnswer(const uint8_t* request, const uint8_t* answer, int length) {
    if (const char* error = checkHeader(request, answer, length)) {
        return error;
    }
    if (answer[1] != request[1]) {
        return "Incorrect operation in response";
    }
    // A short answer with a good CRC is refused before any byte it lacks is looked at.
    if (length < WriteAnswerLength) {
        return "Incorrect data length received";
    }
    if (getWord(answer + 2) != getWord(request + 2)) {
        return "Incorrect offset in response";
    }
    if (request[1] == WriteMultipleRegisters) {
        if (getWord(answer + 4) != getWord(request + 4)) {
            return "Incorrect count in response";
        }
    } else if (answer[4] != request[4] || answer[5] != request[5]) {
        return "Incorrect writing data acknowledge";
    }
    return nullptr;
}

bool isEcho(const uint8_t* request, int requestLength, const uint8_t* answer, int length) {
    return length == requestLength &&
           std::memcmp(request, answer, static_cast<size_t>(length)) == 0;
}

}  // namespace ModbusFrameN
