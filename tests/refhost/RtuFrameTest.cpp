#include "RtuFrame.h"

#include <gtest/gtest.h>

#include "TestBytes.h"

using testbytes::Bytes;
using testbytes::hex;
using testbytes::withCrc;
using testbytes::wrapped;

TEST(RtuFrame, CrcMatchesKnownFrameAndTravelsLowByteFirst) {
    const Bytes frame = withCrc("01 03 00 00 00 0A");
    EXPECT_EQ(frame, hex("01 03 00 00 00 0A C5 CD"));
    EXPECT_TRUE(rtu::crcOk(frame.data(), frame.size()));
    for (size_t i = 0; i < frame.size(); ++i) {
        Bytes bad = frame;
        bad[i] ^= 0x01;
        EXPECT_FALSE(rtu::crcOk(bad.data(), bad.size())) << "byte " << i;
    }
    EXPECT_FALSE(rtu::crcOk(frame.data(), 2));
}

TEST(RtuFrame, ExpectedAnswerLengthFollowsFunctionAndCount) {
    const struct {
        const char* request;  // without CRC
        size_t expected;
    } cases[] = {
        {"01 01 00 00 00 01", 6},            // 1 coil: 1 data byte
        {"01 01 00 00 00 10", 7},            // 16 coils: 2 bytes
        {"01 02 00 00 00 11", 8},            // 17 inputs: 3 bytes
        {"01 03 00 00 00 01", 7},            // 1 register
        {"01 04 00 00 00 7D", 255},          // 125 registers
        {"01 05 00 0B FF 00", 8},            // echo
        {"01 06 00 00 12 34", 8},            // echo
        {"01 10 00 00 00 01 02 12 34", 8},   // address and count
        {"01 08 01 CC 02 62 00 01 0A", 11},  // slave-address frame: its echo
        {"01 07", 0},                        // function without a known answer
        {"01 2B 0E 01 00 00", 0},
        {"01 03 00 00 00", 0},  // too short for a read
    };
    for (const auto& c : cases) {
        const Bytes request = withCrc(c.request);
        EXPECT_EQ(rtu::expectedAnswerLength(request.data(), request.size()), c.expected)
            << c.request;
    }
}

TEST(RtuFrame, UnwrapTakesTheWrapperOffOnlyWhenTheInnerFrameIsGood) {
    const Bytes bare = withCrc("01 03 00 00 00 0A");
    const Bytes wrap = wrapped(bare);
    rtu::FrameView v = rtu::unwrap(wrap.data(), wrap.size());
    EXPECT_TRUE(v.wrapped);
    EXPECT_EQ(Bytes(v.data, v.data + v.length), bare);

    v = rtu::unwrap(bare.data(), bare.size());
    EXPECT_FALSE(v.wrapped);
    EXPECT_EQ(v.length, bare.size());

    // 0A ... 0D around a frame whose CRC is bad: not a wrapped frame, left as it is.
    Bytes badInner = wrap;
    badInner[3] ^= 0x40;
    v = rtu::unwrap(badInner.data(), badInner.size());
    EXPECT_FALSE(v.wrapped);
    EXPECT_EQ(v.length, badInner.size());
}

TEST(RtuFrame, BareFrameOfNode10EndingIn0DStaysBare) {
    // Find a bare frame of node 10 whose CRC ends in 0x0D, so it looks wrapped at a glance.
    Bytes frame;
    for (unsigned reg = 0; reg < 65536 && frame.empty(); ++reg) {
        Bytes f = withCrc(Bytes{0x0A, 0x06, 0x00, 0x00, static_cast<uint8_t>(reg >> 8),
                                static_cast<uint8_t>(reg)});
        if (f.back() == rtu::IsmgEnd) {
            frame = f;
        }
    }
    ASSERT_FALSE(frame.empty());
    const rtu::FrameView v = rtu::unwrap(frame.data(), frame.size());
    EXPECT_FALSE(v.wrapped);
    EXPECT_EQ(v.length, frame.size());
}

TEST(RtuFrame, CompleteAnswerNeedsExactLengthGoodCrcAndMatchingWrapper) {
    const Bytes read = withCrc("01 03 00 00 00 01");
    const Bytes answer = withCrc("01 03 02 12 34");
    const Bytes exception = withCrc("01 83 02");
    const Bytes write16 = withCrc("01 10 00 05 00 02 04 00 01 00 02");
    const Bytes ack16 = withCrc("01 10 00 05 00 02");

    Bytes badCrc = answer;
    badCrc.back() ^= 0xFF;
    Bytes otherException = withCrc("01 84 02");  // exception flag on another function
    const Bytes shortAnswer(answer.begin(), answer.end() - 1);

    const struct {
        const char* name;
        Bytes request;
        Bytes answer;
        bool complete;
    } cases[] = {
        {"read answer", read, answer, true},
        {"exception", read, exception, true},
        {"write 16 ack", write16, ack16, true},
        {"wrapped read, wrapped answer", wrapped(read), wrapped(answer), true},
        {"wrapped read, wrapped exception", wrapped(read), wrapped(exception), true},
        {"one byte short", read, shortAnswer, false},
        {"bad CRC", read, badCrc, false},
        {"exception of another function", read, otherException, false},
        {"wrapped read, bare answer", wrapped(read), answer, false},
        {"bare read, wrapped answer", read, wrapped(answer), false},
        {"nothing sent", Bytes{}, answer, false},
        {"answer of a request whose answer is unknown", withCrc("01 07"), answer, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(rtu::isCompleteAnswer(c.request.data(), c.request.size(), c.answer.data(),
                                        c.answer.size()),
                  c.complete)
            << c.name;
    }
}
