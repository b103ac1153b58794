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

// A frame as it travels: bare, or inside the ISMG wrapper.
struct FrameView {
    const uint8_t* data;  // the bare frame (CRC included)
    size_t length;
    bool wrapped;
};

// The bare frame inside `frame`: when the whole frame does not carry a good CRC but it is wrapped
// and the inner frame does, the inner frame; otherwise `frame` itself (good CRC or not). Checking
// the bare CRC first keeps a bare frame of node 10 that happens to end in 0x0D bare.
FrameView unwrap(const uint8_t* frame, size_t length);

// True when answer[0..answerLength) is a whole answer with a good CRC to the request just sent,
// both as on the wire: the normal answer (its length follows from the request) or a 5-byte
// exception answer, wrapped exactly when the request was.
bool isCompleteAnswer(const uint8_t* request, size_t requestLength, const uint8_t* answer,
                      size_t answerLength);

// Name of a Modbus function code ("read holding registers"), or null for one the line never
// carries.
const char* functionName(uint8_t function);
// Name of a Modbus exception code ("illegal data address"), or null for an unknown one.
const char* exceptionName(uint8_t code);

}  // namespace rtu
