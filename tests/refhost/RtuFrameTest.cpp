// Frames: CRC, answer lengths, wrapper, and how the trace describes them.

#include <gtest/gtest.h>

#include <qarn/refhost/FrameTrace.h>
#include <qarn/rtu/RtuFrame.h>
#include "TestBytes.h"

using refhost::FrameTrace;

TEST(RtuFrame, CrcMatchesKnownFrameAndCatchesEveryFlippedBit) {
    Bytes f = hexBytes("01 03 00 00 00 0A 00 00");
    rtu::putCrc(f.data(), 6);
    EXPECT_EQ(toHex(f), "01 03 00 00 00 0A C5 CD");  // low byte first
    EXPECT_TRUE(rtu::crcOk(f.data(), f.size()));
    for (size_t i = 0; i < f.size() * 8; ++i) {
        Bytes bad = f;
        bad[i / 8] ^= static_cast<uint8_t>(1U << (i % 8));
        EXPECT_FALSE(rtu::crcOk(bad.data(), bad.size())) << "bit " << i;
    }
    EXPECT_FALSE(rtu::crcOk(f.data(), 2));
}

TEST(RtuFrame, ExpectedAnswerLengthFollowsFunctionAndCount) {
    const std::pair<const char*, size_t> cases[] = {
        {"01 02 00 00 00 11", 8},            // 17 inputs: 3 data bytes
        {"01 04 00 00 00 7D", 255},          // 125 registers
        {"01 05 00 0B FF 00", 8},            // echo
        {"01 10 00 00 00 01 02 12 34", 8},   // address and count
        {"01 08 01 CC 02 62 00 01 0A", 11},  // slave-address frame: its echo
        {"01 07", 0},                        // a function without a known answer
        {"01 03 00 00 00", 0},               // too short for a read
    };
    for (const auto& [request, expected] : cases) {
        const Bytes r = frame(request);
        EXPECT_EQ(rtu::expectedAnswerLength(r.data(), r.size()), expected) << request;
    }
}

// The wrapper comes off only around a good inner frame: node 10's write below ends in 0D.
TEST(RtuFrame, CompleteAnswerNeedsExactLengthGoodCrcAndMatchingWrapper) {
    const Bytes read = frame("01 03 00 00 00 01");
    const Bytes answer = frame("01 03 02 12 34");
    const Bytes write10 = frame("0A 06 00 00 00 AE");
    Bytes badCrc = answer;
    badCrc.back() ^= 0xFF;
    Bytes badInner = frame("[01 03 02 12 34]");
    badInner[3] ^= 0x40;
    const struct {
        Bytes request, answer;
        bool complete;
    } cases[] = {
        {read, answer, true},
        {read, frame("01 83 02"), true},
        {frame("[01 03 00 00 00 01]"), frame("[01 03 02 12 34]"), true},
        {read, Bytes(answer.begin(), answer.end() - 1), false},
        {read, badCrc, false},
        {frame("[01 03 00 00 00 01]"), badInner, false},
        {write10, write10, true},
        {read, frame("01 84 02"), false},  // exception of another function
        {frame("[01 03 00 00 00 01]"), answer, false},
        {frame("01 07"), answer, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(rtu::isCompleteAnswer(c.request.data(), c.request.size(), c.answer.data(),
                                        c.answer.size()),
                  c.complete)
            << toHex(c.request) << " / " << toHex(c.answer);
    }
}

TEST(FrameTrace, DescribesRequestsAndAnswers) {
    Bytes badCrc = frame("01 03 02 12 34");
    badCrc[3] = 0x13;  // payload changed, CRC kept
    const std::string goodCrc = toHex(frame("01 03 02 13 34")).substr(15);
    const struct {
        Bytes frame;
        bool fromMaster;
        std::string summary;
    } cases[] = {
        {frame("11 04 00 6B 00 03"), true,
         "node 17, fn 4 read input registers, addr 107, count 3, CRC ok"},
        {frame("01 03 02 12 34"), false, "node 1, fn 3 read holding registers, 2 bytes, CRC ok"},
        {frame("01 05 00 0B FF 00"), true, "node 1, fn 5 write single coil, addr 11, ON, CRC ok"},
        {frame("01 06 00 02 12 34"), true,
         "node 1, fn 6 write single register, addr 2, value 4660, CRC ok"},
        {frame("01 10 00 05 00 02 04 00 01 00 02"), true,
         "node 1, fn 16 write multiple registers, addr 5, count 2, 4 bytes, CRC ok"},
        {frame("01 10 00 05 00 02"), false,
         "node 1, fn 16 write multiple registers, addr 5, count 2, CRC ok"},
        {frame("01 83 02"), false,
         "node 1, fn 3 read holding registers, exception 2 (illegal data address), CRC ok"},
        {frame("01 83 07"), false,
         "node 1, fn 3 read holding registers, exception 7 (unknown), CRC ok"},
        {frame("[03 08 01 CC 02 62 00 01 0A]"), true,
         "ISMG wrapper, node 3, fn 8 set slave address, new slave address 10, CRC ok"},
        {badCrc, false,
         "node 1, fn 3 read holding registers, 2 bytes, CRC bad (expected " + goodCrc + ")"},
        {hexBytes("01 03"), false, "too short for a frame"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FrameTrace::describe(c.frame.data(), c.frame.size(), c.fromMaster), c.summary)
            << toHex(c.frame);
    }
}
