#pragma once
// Modbus RTU frame knowledge for the host side (serial port, trace, simulator): CRC, the ISMG
// line wrapper and the length of the answer a request calls for. Independent of the plug-in.

#include <cstddef>
#include <cstdint>

namespace rtu {

constexpr uint8_t IsmgStart = 0x0A;
constexpr uint8_t IsmgEnd = 0x0D;
constexpr uint8_t ExceptionFlag = 0x80;
constexpr size_t ExceptionLength = 5;

// Modbus CRC-16 (reflected 0xA001, initial 0xFFFF); travels low byte first.
uint16_t crc16(const uint8_t* data, size_t length);
// True when the last two bytes hold the CRC of the bytes before them.
bool crcOk(const uint8_t* frame, size_t length);
// Writes the CRC of frame[0..length) at frame[length], frame[length + 1].
void putCrc(uint8_t* frame, size_t length);

// True when the frame is wrapped as 0x0A <frame> 0x0D.
bool isIsmgWrapped(const uint8_t* frame, size_t length);

// Length of the normal answer (with CRC, without wrapper) to a bare request with CRC, or 0 when
// the request is not one whose answer length is known.
size_t expectedAnswerLength(const uint8_t* request, size_t length);

}  // namespace rtu
