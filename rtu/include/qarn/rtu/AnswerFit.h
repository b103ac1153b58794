#pragma once
// How the bytes received so far stand to the answer a request calls for. The serial port keeps
// listening while they can still become that answer, and ends the frame on the character gap
// only when its length can't be known.

#include <cstddef>
#include <cstdint>

namespace rtu {

enum class AnswerFit {
    Partial,   // nothing yet, or a proper prefix of the normal or the exception answer
    Complete,  // the whole answer with a good CRC (more bytes may follow it)
    Damaged,   // as long as the answer it starts like, but the CRC (or the wrapper) is wrong
    Foreign,   // another node or another function: no answer to this request
    Unknown,   // this node and function, but the length can't be told (an unexpected byte count,
               // a request we know no answer length for)
};

struct AnswerShape {
    AnswerFit fit;
    // Length of the answer the bytes start like (wrapper included); 0 when not known.
    size_t length;
};

// What a request calls for, worked out once when it is sent, so that judging each chunk of its
// answer costs no CRC of the request.
struct Expectation {
    bool wrapped = false;  // sent in the ISMG wrapper: the answer must come in it too
    uint8_t node = 0;
    uint8_t function = 0;
    size_t length = 0;   // the normal answer, bare, CRC included; 0 when not known
    bool read = false;   // a read: the answer's byte count must match
    bool valid = false;  // the request itself had a good CRC
};
Expectation expect(const uint8_t* request, size_t requestSize);
AnswerShape fitAnswer(const Expectation& expectation, const uint8_t* bytes, size_t count);

// Both as on the wire: `request` the whole request sent (bare or in the ISMG wrapper), `bytes`
// what came so far. Reads must also carry the byte count the request calls for.
AnswerShape fitAnswer(const uint8_t* request, size_t requestSize, const uint8_t* bytes,
                      size_t count);

// True when the request, as it travels, would itself pass as a complete answer to it: then its
// echo can't be told from the answer by the bytes (writes of one coil or register, the
// slave-address frame, and reads such as 24 coils from address 768).
bool echoPassesAsAnswer(const uint8_t* request, size_t requestSize);

}  // namespace rtu
