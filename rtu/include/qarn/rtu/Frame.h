#pragma once
// Modbus RTU frame layout for the host side (serial port, trace, simulator, test doubles): the
// limits of one request, the ISMG line wrapper and its slave-address frame, and the lengths that
// tell where a request or an answer ends. Independent of the plug-in's own frame code.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rtu {

constexpr uint8_t BroadcastNode = 0;
constexpr uint8_t MaxNode = 247;  // highest address a slave may have

// Quantities one request may carry.
constexpr uint32_t MaxReadBits = 2000;
constexpr uint32_t MaxReadRegisters = 125;
constexpr uint32_t MaxWriteRegisters = 123;

// Node, function, CRC: nothing shorter is a frame.
constexpr size_t MinFrameLength = 4;
// Longest bare frame (CRC included), and longest on the line: the same inside the wrapper.
constexpr size_t MaxFrameLength = 256;
constexpr size_t MaxWrappedFrameLength = MaxFrameLength + 2;
// node, function | ExceptionFlag, code, CRC.
constexpr size_t ExceptionLength = 5;
// node, 08, 01 CC 02 62 00 01, the new address, CRC.
constexpr size_t SlaveAddressFrameLength = 11;

// ISMG devices take and send every frame as IsmgStart, frame with CRC, IsmgEnd.
constexpr uint8_t IsmgStart = 0x0A;
constexpr uint8_t IsmgEnd = 0x0D;

// A 16-bit field (address, quantity, register), high byte first.
inline uint16_t be16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

// True when the frame is wrapped as IsmgStart <frame> IsmgEnd.
bool isIsmgWrapped(const uint8_t* frame, size_t length);
std::vector<uint8_t> wrapIsmg(const std::vector<uint8_t>& frame);

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

// True for a bare frame (CRC included) of the slave-address layout; the CRC is not checked.
bool isSlaveAddressFrame(const uint8_t* frame, size_t length);

// Length of the bare request (CRC included) whose first `length` bytes are given, when its
// function code fixes it; 0 while not yet known and for a function we do not know.
size_t requestLength(const uint8_t* frame, size_t length);

// Length of the normal answer (CRC included, without wrapper) to a whole bare request with CRC;
// 0 when the request has none: an unknown function, a length wrong for the function, or a
// quantity outside the limits (which only an exception answers).
size_t expectedAnswerLength(const uint8_t* request, size_t length);

// True when the bytes form a whole request with a good CRC, bare or wrapped. A function we do
// not know is complete whenever its CRC fits.
bool isCompleteRequest(const uint8_t* bytes, size_t length);

// True when answer[0..answerLength) is a whole answer with a good CRC to the request just sent,
// both as on the wire: the normal answer (its length follows from the request) or an exception
// answer, wrapped exactly when the request was.
bool isCompleteAnswer(const uint8_t* request, size_t requestSize, const uint8_t* answer,
                      size_t answerSize);

}  // namespace rtu
