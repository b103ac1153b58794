#include <qarn/sim/UartMismatch.h>

namespace sim {

namespace {

uint32_t bitsPerCharacter(const CharacterFormat& f) {
    return 1 + 8 + (f.parity ? 1 : 0) + f.stopBits;
}

}  // namespace

std::vector<uint8_t> receiveMismatched(const uint8_t* data, size_t length,
                                       const CharacterFormat& sent,
                                       const CharacterFormat& receiver) {
    // The line as the sender drives it: start bit 0, data LSB first, parity, stop bits 1, then
    // idle (1).
    std::vector<uint8_t> line;
    for (size_t i = 0; i < length; ++i) {
        line.push_back(0);
        for (int b = 0; b < 8; ++b) {
            line.push_back(static_cast<uint8_t>((data[i] >> b) & 1u));
        }
        if (sent.parity) {
            line.push_back(1);
        }
        line.insert(line.end(), sent.stopBits, 1);
    }
    // Time in units of 1 / (sent baud x receiver baud) s: both bit times are whole numbers.
    const uint64_t sentBit = receiver.baud;
    const uint64_t readBit = sent.baud;
    const uint64_t end = line.size() * sentBit;
    const auto level = [&](uint64_t t) { return t < end ? line[t / sentBit] : uint8_t{1}; };
    const uint32_t readBits = bitsPerCharacter(receiver);

    // The first boundary at or after `from` where the line is at `wanted`; `end` when none.
    const auto nextLevel = [&](uint64_t from, uint8_t wanted) {
        if (level(from) == wanted) {
            return from;
        }
        uint64_t b = (from / sentBit + 1) * sentBit;
        while (b < end && level(b) != wanted) {
            b += sentBit;
        }
        return b;
    };
    std::vector<uint8_t> out;
    uint64_t t = 0;
    while (t < end) {
        // A start bit is a fall of the line: after a character, the line must be high first.
        if (t != 0) {
            t = nextLevel(t, 1);
        }
        t = nextLevel(t, 0);
        if (t >= end) {
            break;
        }
        const uint64_t edge = t;
        const auto sample = [&](uint32_t bit) { return level(edge + bit * readBit + readBit / 2); };
        if (sample(0) != 0) {
            t = edge + readBit / 2;  // a glitch, not a start bit
            continue;
        }
        uint8_t byte = 0;
        for (uint32_t b = 0; b < 8; ++b) {
            byte = static_cast<uint8_t>(byte | (sample(1 + b) << b));
        }
        bool framed = true;
        for (uint32_t s = readBits - receiver.stopBits; s < readBits; ++s) {
            framed = framed && sample(s) == 1;
        }
        out.push_back(framed ? byte : uint8_t{0});
        // The next start bit is looked for from the middle of the last stop bit on.
        t = edge + (readBits - 1) * readBit + readBit / 2;
    }
    return out;
}

}  // namespace sim
