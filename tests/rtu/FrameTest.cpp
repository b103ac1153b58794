// Frames: the ISMG wrapper, the lengths that end a request or an answer, the codes' names.

#include <gtest/gtest.h>

#include <qarn/rtu/Frame.h>
#include <qarn/rtu/FunctionCodes.h>
#include "TestBytes.h"

namespace {

TEST(RtuFrame, WrapperComesOffOnlyAroundAGoodInnerFrame) {
    const Bytes read = frame("01 03 00 00 00 01");
    const Bytes wrapped = rtu::wrapIsmg(read);
    EXPECT_EQ(toHex(wrapped), "0A " + toHex(read) + " 0D");
    EXPECT_TRUE(rtu::isIsmgWrapped(wrapped.data(), wrapped.size()));

    const Bytes write10 = frame("0A 06 00 00 00 AE");  // node 10: starts 0A, ends 0D
    Bytes badInner = wrapped;
    badInner[3] ^= 0x40;
    const struct {
        Bytes travelling;
        size_t offset, length;  // of the frame unwrap() finds
        bool wrapped;
    } cases[] = {
        {wrapped, 1, read.size(), true},     {read, 0, read.size(), false},
        {write10, 0, write10.size(), false}, {badInner, 0, badInner.size(), false},
        {hexBytes("0A 0D"), 0, 2, false},
    };
    for (const auto& c : cases) {
        const rtu::FrameView v = rtu::unwrap(c.travelling.data(), c.travelling.size());
        EXPECT_EQ(v.data, c.travelling.data() + c.offset) << toHex(c.travelling);
        EXPECT_EQ(v.length, c.length) << toHex(c.travelling);
        EXPECT_EQ(v.wrapped, c.wrapped) << toHex(c.travelling);
    }
}

TEST(RtuFrame, RequestLengthFollowsTheFunctionOnceTheBytesTellIt) {
    const std::pair<const char*, size_t> cases[] = {
        {"01", 0},
        {"01 03", 8},
        {"01 06 00", 8},
        {"01 10 00 00 00 02", 0},  // byte count not in yet
        {"01 10 00 00 00 02 04", 13},
        {"01 08 01", 0},  // sub-function not in yet
        {"01 08 01 CC", 11},
        {"01 08 00 00", 8},
        {"01 41 00 00", 0},
    };
    for (const auto& [prefix, expected] : cases) {
        const Bytes p = hexBytes(prefix);
        EXPECT_EQ(rtu::requestLength(p.data(), p.size()), expected) << prefix;
    }
}

TEST(RtuFrame, AnswerLengthFollowsFunctionAndQuantity) {
    const std::pair<const char*, size_t> cases[] = {
        {"01 02 00 00 00 11", 8},            // 17 inputs: 3 data bytes
        {"01 01 00 00 07 D0", 255},          // 2000 coils
        {"01 04 00 00 00 7D", 255},          // 125 registers
        {"01 05 00 0B FF 00", 8},            // echo
        {"01 06 00 01 00 03", 8},            // echo
        {"01 10 00 00 00 01 02 12 34", 8},   // address and quantity
        {"01 08 01 CC 02 62 00 01 0A", 11},  // slave-address frame: its echo
        // No normal answer: quantities only an exception answers, lengths wrong for the
        // function, other diagnostics, unknown functions.
        {"01 03 00 00 00 00", 0},
        {"01 03 00 00 00 7E", 0},
        {"01 01 00 00 07 D1", 0},
        {"01 03 00 00 00 01 00", 0},
        {"01 10 00 00 00 01 02 12", 0},
        {"01 08 00 00 12 34", 0},
        {"01 07", 0},
    };
    for (const auto& [request, expected] : cases) {
        const Bytes r = frame(request);
        EXPECT_EQ(rtu::expectedAnswerLength(r.data(), r.size()), expected) << request;
    }
}

TEST(RtuFrame, CompleteRequestNeedsItsWholeLengthAndAGoodCrc) {
    const Bytes read = frame("01 03 00 00 00 01");
    const Bytes badCrc = withBrokenCrc(read);
    const std::pair<Bytes, bool> cases[] = {
        {read, true},
        {frame("[03 08 01 CC 02 62 00 01 05]"), true},
        {frame("01 41 00"), true},  // unknown function: whenever the CRC fits
        {Bytes(read.begin(), read.end() - 1), false},
        {badCrc, false},
        {frame("01 03 00 00 00 01 00"), false},  // CRC fits, length does not
        {frame("01"), false},
    };
    for (const auto& [bytes, complete] : cases) {
        EXPECT_EQ(rtu::isCompleteRequest(bytes.data(), bytes.size()), complete) << toHex(bytes);
    }
}

// The wrapper comes off only around a good inner frame: node 10's write below ends in 0D.
TEST(RtuFrame, CompleteAnswerNeedsExactLengthGoodCrcAndMatchingWrapper) {
    const Bytes read = frame("01 03 00 00 00 01");
    const Bytes answer = frame("01 03 02 12 34");
    const Bytes write10 = frame("0A 06 00 00 00 AE");
    const Bytes badCrc = withBrokenCrc(answer, 0xFF);
    Bytes badInner = frame("[01 03 02 12 34]");
    badInner[3] ^= 0x40;
    const struct {
        Bytes request, answer;
        bool complete;
    } cases[] = {
        {read, answer, true},
        {read, frame("01 83 02"), true},
        {frame("[01 03 00 00 00 01]"), frame("[01 03 02 12 34]"), true},
        {frame("[01 03 00 00 00 01]"), frame("[01 83 04]"), true},
        {write10, write10, true},
        {read, Bytes(answer.begin(), answer.end() - 1), false},
        {read, badCrc, false},
        {frame("[01 03 00 00 00 01]"), badInner, false},
        {read, frame("01 84 02"), false},  // exception of another function
        {frame("[01 03 00 00 00 01]"), answer, false},
        {read, frame("[01 03 02 12 34]"), false},
        {frame("01 07"), answer, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(rtu::isCompleteAnswer(c.request.data(), c.request.size(), c.answer.data(),
                                        c.answer.size()),
                  c.complete)
            << toHex(c.request) << " / " << toHex(c.answer);
    }
}

TEST(RtuFrame, SlaveAddressFrameIsTheWholeLayout) {
    const std::pair<const char*, bool> cases[] = {
        {"03 08 01 CC 02 62 00 01 05", true},
        {"03 08 01 CC 02 62 00 02 05", false},
        {"03 03 01 CC 02 62 00 01 05", false},
        {"03 08 01 CC 02 62 00 01", false},
    };
    for (const auto& [text, expected] : cases) {
        const Bytes f = frame(text);
        EXPECT_EQ(rtu::isSlaveAddressFrame(f.data(), f.size()), expected) << text;
    }
}

// Every code the line carries is named, and nothing else is.
TEST(RtuFrame, CodesHaveTheirNames) {
    int functions = 0, exceptions = 0;
    for (int code = 0; code < 256; ++code) {
        functions += rtu::functionName(static_cast<uint8_t>(code)) != nullptr ? 1 : 0;
        exceptions += rtu::exceptionName(static_cast<uint8_t>(code)) != nullptr ? 1 : 0;
    }
    EXPECT_EQ(functions, 8);
    EXPECT_EQ(exceptions, 9);
    EXPECT_STREQ(rtu::functionName(rtu::WriteMultipleRegisters), "write multiple registers");
    EXPECT_STREQ(rtu::functionName(rtu::Diagnostics), "set slave address");
    EXPECT_STREQ(rtu::exceptionName(rtu::DeviceFailure), "slave device failure");
    EXPECT_STREQ(rtu::exceptionName(rtu::GatewayTargetNoResponse),
                 "gateway target device failed to respond");
}

}  // namespace
