// What a receiver at other settings makes of a request: the strict line's model of a UART.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include <qarn/sim/UartMismatch.h>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes heard(const Bytes& sent, sim::CharacterFormat at, sim::CharacterFormat receiver) {
    return sim::receiveMismatched(sent.data(), sent.size(), at, receiver);
}

TEST(UartMismatch, OnlyTheRightRateAndStopBitsCarryARequest) {
    const Bytes request = {0x05, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x4E};
    const sim::CharacterFormat own{19200, 1, false};
    EXPECT_EQ(heard(request, own, own), request);
    EXPECT_EQ(heard(request, {9600, 2, true}, {9600, 2, true}), request);
    // Too fast or too slow by any standard step: other bytes, or other counts of them.
    for (const uint32_t baud : {1200u, 2400u, 4800u, 9600u, 38400u, 57600u, 115200u}) {
        EXPECT_NE(heard(request, {baud, 1, false}, own), request) << baud;
    }
    // Sent at half the rate each bit is read twice: 0xFF, whose bits are all 1 after the start
    // bit, reads as 0xFE with a framing error or two start bits' worth of zeros.
    const Bytes slow = heard({0xFF}, {9600, 1, false}, own);
    ASSERT_FALSE(slow.empty());
    EXPECT_NE(slow[0], 0xFF);
    // One stop bit to a receiver that checks two: the first character runs into the next one's
    // start bit (a framing error, read as NUL), and the receiver is out of step from there on.
    const Bytes framing = heard(request, {19200, 1, false}, {19200, 2, false});
    ASSERT_FALSE(framing.empty());
    EXPECT_EQ(framing[0], 0x00);
    EXPECT_NE(framing, request);
    // Two stop bits to a receiver that checks one: an idle bit between characters, read well.
    EXPECT_EQ(heard(request, {19200, 2, false}, own), request);
}

}  // namespace
