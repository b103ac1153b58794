#pragma once
// Modbus RTU frames as the master sees them: CRC, request builders, the ISMG line wrapper and the
// checks of an answer. Pure functions over byte spans; nothing here touches a port.
//
// On the line, addresses, counts and register values travel high byte first and the CRC low
// byte first. A register image handed in or out of the driver holds each register low byte
// first.

#include <cstdint>

namespace ModbusFrameN {

constexpr int RequestBufferSize = 256;
constexpr int WrappedBufferSize = 264;
constexpr int ResponseBufferSize = 256;
constexpr int CrcLength = 2;
constexpr int ReadRequestLength = 8;
constexpr int WriteSingleLength = 8;
constexpr int WriteAnswerLength = 8;
constexpr int SlaveAddressLength = 11;
constexpr int ExceptionLength = 5;
// 9 + 2n bytes must fit the request buffer.
constexpr int MaxWriteRegisters = 123;

constexpr uint8_t IsmgStart = 0x0A;
constexpr uint8_t IsmgEnd = 0x0D;
constexpr uint8_t ExceptionFlag = 0x80;

constexpr uint8_t ReadCoils = 1;
constexpr uint8_t ReadInputs = 2;
constexpr uint8_t ReadHoldingRegisters = 3;
constexpr uint8_t ReadInputRegisters = 4;
constexpr uint8_t WriteSingleCoil = 5;
constexpr uint8_t WriteSingleRegister = 6;
constexpr uint8_t WriteMultipleRegisters = 16;
constexpr uint8_t SlaveAddressFunction = 0x08;

// Standard Modbus CRC-16 (reflected polynomial 0xA001, start 0xFFFF), bit by bit.
uint16_t crc16(const uint8_t* data, int length);
// Appends the CRC of frame[0, length) low byte first; returns the new length.
int appendCrc(uint8_t* frame, int length);
// True when the frame is longer than its CRC and its last two bytes are the CRC of the others.
bool crcOk(const uint8_t* frame, int length);

// Request builders. Each writes a whole frame with CRC into `out` (RequestBufferSize bytes) and
// returns its length, or 0 when the request cannot be built.
int buildRead(uint8_t* out, uint8_t node, uint8_t function, uint16_t address, uint16_t count);
int buildWriteCoil(uint8_t* out, uint8_t node, uint16_t address, bool on);
int buildWriteRegister(uint8_t* out, uint8_t node, uint16_t address, uint16_t value);
// `image` holds `count` registers, each low byte first; at most MaxWriteRegisters.
int buildWriteRegisters(uint8_t* out, uint8_t node, uint16_t address, const uint8_t* image,
                        int count);
// Gives the device at `node` the new slave address `newAddress`.
int buildSlaveAddress(uint8_t* out, uint8_t node, uint8_t newAddress);

// ISMG devices frame every message as 0x0A, the frame with its CRC, 0x0D. Returns the wrapped
// length, or 0 when it does not fit `outSize`.
int wrapIsmg(const uint8_t* frame, int length, uint8_t* out, int outSize);
// Strips the wrapper in place; returns the bare length, or -1 when the wrapper is missing or
// nothing but a wrapper arrived.
int unwrapIsmg(uint8_t* frame, int length);

// Answer checks. Each returns null when the answer passes, otherwise the error text. They expect
// an answer whose CRC has been verified, so it holds at least 3 bytes besides the CRC.
//
// Node and exception, the first checks of every answer.
const char* checkHeader(const uint8_t* request, const uint8_t* answer, int length);
// Every check of an answer to a read of `count` bits or registers.
const char* checkReadAnswer(const uint8_t* request, const uint8_t* answer, int length, bool bits,
                            int count);
// Every check of an answer to a write request of function 5, 6 or 16.
const char* checkWriteAnswer(const uint8_t* request, const uint8_t* answer, int length);
// The slave-address frame is answered by its exact echo.
bool isEcho(const uint8_t* request, int requestLength, const uint8_t* answer, int length);

// Text of an exception answer's code.
const char* exceptionText(uint8_t code);

}  // namespace ModbusFrameN
