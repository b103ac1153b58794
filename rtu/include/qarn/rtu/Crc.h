#pragma once
// The Modbus CRC-16 (reflected polynomial 0xA001, initial value 0xFFFF), which travels low byte
// first. Table-driven: the host side checks the bytes received so far after every read to find
// where an answer ends.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rtu {

uint16_t crc16(const uint8_t* data, size_t length);
// True when the last two bytes hold the CRC of the bytes before them (and there is a byte
// before them).
bool crcOk(const uint8_t* frame, size_t length);
// Writes the CRC of frame[0..length) at frame[length], frame[length + 1].
void putCrc(uint8_t* frame, size_t length);
// Appends the CRC of everything in the frame so far.
void appendCrc(std::vector<uint8_t>& frame);

}  // namespace rtu
