#pragma once
// Frame layouts a simulated slave speaks: function and exception codes, the limits of one
// request, answers built from requests, the ISMG wrapper and its slave-address frame.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

enum FunctionCode : uint8_t {
    ReadCoils = 1,
    ReadDiscreteInputs = 2,
    ReadHoldingRegisters = 3,
    ReadInputRegisters = 4,
    WriteSingleCoil = 5,
    WriteSingleRegister = 6,
    Diagnostics = 8,  // carries the ISMG slave-address frame
    WriteMultipleRegisters = 16,
};

enum ExceptionCode : uint8_t {
    IllegalFunction = 1,
    IllegalDataAddress = 2,
    IllegalDataValue = 3,
    DeviceFailure = 4,
};

constexpr uint8_t BroadcastNode = 0;
constexpr uint8_t MaxNode = 247;  // highest address a slave may have
constexpr uint32_t MaxReadBits = 2000;
constexpr uint32_t MaxReadRegisters = 125;
constexpr uint32_t MaxWriteRegisters = 123;
// Longest frame on the line: 256 bytes of RTU frame plus the two wrapper bytes.
constexpr size_t MaxFrameLength = 258;
// Node, function, CRC: nothing shorter is a frame.
constexpr size_t MinFrameLength = 4;
constexpr size_t SlaveAddressFrameLength = 11;

inline uint16_t be16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

// Appends the CRC of everything in the frame so far.
void appendCrc(std::vector<uint8_t>& frame);
// node, function | 0x80, code, CRC.
std::vector<uint8_t> exceptionAnswer(uint8_t node, uint8_t function, uint8_t code);
// 0x0A, frame, 0x0D.
std::vector<uint8_t> wrapIsmg(const std::vector<uint8_t>& frame);

// True for a bare frame (CRC included) of the layout
//   0 node, 1 0x08, 2-7 01 CC 02 62 00 01, 8 the new slave address, 9-10 CRC.
bool isSlaveAddressFrame(const uint8_t* frame, size_t length);

// Length of the bare request (CRC included) whose first `length` bytes are given, when its
// function code fixes it; 0 when not yet known or when the function is not one we know.
size_t requestLength(const uint8_t* frame, size_t length);

}  // namespace sim
