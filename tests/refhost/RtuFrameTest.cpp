#include "RtuFrame.h"

#include <gtest/gtest.h>

#include "TestBytes.h"

using testbytes::Bytes;
using testbytes::hex;
using testbytes::withCrc;
using testbytes::wrapped;

TEST(RtuFrame, CrcMatchesKnownFrameAndCatchesEveryFlippedBit) {
    const Bytes frame = withCrc("01 03 00 00 00 0A");
    EXPECT_EQ(frame, hex("01 03 00 00 00 0A C5 CD"));  // low byte first
    EXPECT_TRUE(rtu::crcOk(frame.data(), frame.size()));
    for (size_t i = 0; i < frame.size() * 8; ++i) {
        Bytes bad = frame;
        bad[i / 8] ^= static_cast<uint8_t>(1U << (i % 8));
        EXPECT_FALSE(rtu::crcOk(bad.data(), bad.size())) << "bit " << i;
    }
    EXPECT_FALSE(rtu::crcOk(frame.data(), 2));
}

TEST(RtuFrame, ExpectedAnswerLengthFollowsFunctionAndCount) {
    const struct {
        const char* request;  // without CRC
        size_t expected;
    } cases[] = {
        {"01 01 00 00 00 10", 7},            // 16 coils: 2 data bytes
        {"01 02 00 00 00 11", 8},            // 17 inputs: 3 data bytes
        {"01 03 00 00 00 01", 7},            // 1 register
        {"01 04 00 00 00 7D", 255},          // 125 registers
        {"01 05 00 0B FF 00", 8},            // echo
        {"01 10 00 00 00 01 02 12 34", 8},   // address and count
        {"01 08 01 CC 02 62 00 01 0A", 11},  // slave-address frame: its echo
        {"01 07", 0},                        // a function without a known answer
        {"01 03 00 00 00", 0},               // too short for a read
    };
    for (const auto& c : cases) {
        const Bytes request = withCrc(c.request);
        EXPECT_EQ(rtu::expectedAnswerLength(request.data(), request.size()), c.expected)
            << c.request;
    }
}

TEST(RtuFrame, UnwrapTakesTheWrapperOffOnlyAroundAGoodInnerFrame) {
    const Bytes bare = withCrc("01 03 00 00 00 0A");
    Bytes badInner = wrapped(bare);
    badInner[3] ^= 0x40;
    const struct {
        const char* name;
        Bytes frame;
        bool wrapped;
    } cases[] = {
        {"wrapped", wrapped(bare), true},
        {"bare", bare, false},
        {"wrapper around a bad CRC", badInner, false},
        {"bare frame of node 10 whose CRC ends in 0D", withCrc("0A 06 00 00 00 AE"), false},
    };
    for (const auto& c : cases) {
        const rtu::FrameView v = rtu::unwrap(c.frame.data(), c.frame.size());
        EXPECT_EQ(v.wrapped, c.wrapped) << c.name;
        EXPECT_EQ(Bytes(v.data, v.data + v.length), c.wrapped ? bare : c.frame) << c.name;
    }
}

TEST(RtuFrame, CompleteAnswerNeedsExactLengthGoodCrcAndMatchingWrapper) {
    const Bytes read = withCrc("01 03 00 00 00 01");
    const Bytes answer = withCrc("01 03 02 12 34");
    const Bytes exception = withCrc("01 83 02");
    Bytes badCrc = answer;
    badCrc.back() ^= 0xFF;
    const struct {
        const char* name;
        Bytes request;
        Bytes answer;
        bool complete;
    } cases[] = {
        {"read answer", read, answer, true},
        {"exception", read, exception, true},
        {"write 16 ack", withCrc("01 10 00 05 00 02 04 00 01 00 02"), withCrc("01 10 00 05 00 02"),
         true},
        {"wrapped read, wrapped answer", wrapped(read), wrapped(answer), true},
        {"one byte short", read, Bytes(answer.begin(), answer.end() - 1), false},
        {"bad CRC", read, badCrc, false},
        {"exception of another function", read, withCrc("01 84 02"), false},
        {"wrapped read, bare answer", wrapped(read), answer, false},
        {"bare read, wrapped answer", read, wrapped(answer), false},
        {"nothing sent", Bytes{}, answer, false},
        {"request whose answer is unknown", withCrc("01 07"), answer, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(rtu::isCompleteAnswer(c.request.data(), c.request.size(), c.answer.data(),
                                        c.answer.size()),
                  c.complete)
            << c.name;
    }
}
