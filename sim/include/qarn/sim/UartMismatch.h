#pragma once
// What a UART receives of characters sent at other settings than its own: the sender's bits are
// sampled in the middle of the receiver's own bit times, as the hardware does. A character whose
// stop bits are not all 1 is a framing error and reads as NUL, as Linux passes it in raw mode.
// Used by the strict line, where a master at the wrong baud rate or stop bits must not be heard.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

struct CharacterFormat {
    uint32_t baud = 19200;
    uint32_t stopBits = 1;
    bool parity = false;  // a parity bit after the 8 data bits (its value is not checked)
};

// The bytes a receiver set to `receiver` reads of `length` bytes sent back to back at `sent`.
// Equal formats give the bytes unchanged.
std::vector<uint8_t> receiveMismatched(const uint8_t* data, size_t length,
                                       const CharacterFormat& sent,
                                       const CharacterFormat& receiver);

}  // namespace sim
