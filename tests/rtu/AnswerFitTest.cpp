// Where the bytes received so far stand against the answer a request calls for: the rules that
// let the serial port wait for the rest of an answer instead of cutting it at a character gap.

#include <gtest/gtest.h>

#include <qarn/rtu/AnswerFit.h>
#include "TestBytes.h"

namespace {

using rtu::AnswerFit;

Bytes cut(const Bytes& bytes, size_t n) {
    return Bytes(bytes.begin(), bytes.begin() + static_cast<long>(n));
}

TEST(RtuAnswerFit, PrefixesWaitAndOtherNodesOrFunctionsAreForeign) {
    const Bytes read2 = frame("01 03 00 00 00 02");
    const Bytes answer = frame("01 03 04 00 01 00 02");
    Bytes damaged = answer;
    damaged[4] ^= 0x01;
    const Bytes write6 = frame("01 06 00 02 12 34");
    const Bytes wrapped = frame("[01 03 00 00 00 01]");
    const Bytes wrappedAnswer = frame("[01 03 02 00 05]");
    const struct {
        Bytes request, bytes;
        AnswerFit fit;
        size_t length;
    } cases[] = {
        {read2, {}, AnswerFit::Partial, 0},
        {read2, cut(answer, 1), AnswerFit::Partial, 0},
        {read2, cut(answer, 4), AnswerFit::Partial, 9},
        {read2, answer, AnswerFit::Complete, 9},
        {read2, damaged, AnswerFit::Damaged, 9},
        {read2, hexBytes("01 83"), AnswerFit::Partial, 5},
        {read2, frame("01 83 02"), AnswerFit::Complete, 5},
        {read2, hexBytes("02 03 04"), AnswerFit::Foreign, 0},
        {read2, hexBytes("01 04 04"), AnswerFit::Foreign, 0},
        {read2, hexBytes("01 03 02 00"), AnswerFit::Unknown, 0},  // a byte count not asked for
        {write6, write6, AnswerFit::Complete, 8},
        {wrapped, cut(wrappedAnswer, 3), AnswerFit::Partial, 9},
        {wrapped, wrappedAnswer, AnswerFit::Complete, 9},
        {wrapped, frame("01 03 02 00 05"), AnswerFit::Foreign, 0},  // the wrapper is missing
        {hexBytes("01 03 00 00 00 02 00 00"), answer, AnswerFit::Unknown, 0},  // bad request
    };
    for (const auto& c : cases) {
        const rtu::AnswerShape s =
            rtu::fitAnswer(c.request.data(), c.request.size(), c.bytes.data(), c.bytes.size());
        EXPECT_EQ(s.fit, c.fit) << toHex(c.request) << " <- " << toHex(c.bytes);
        EXPECT_EQ(s.length, c.length) << toHex(c.request) << " <- " << toHex(c.bytes);
    }
}

TEST(RtuAnswerFit, EchoPassesAsAnswerWhereTheBytesCannotTellThemApart) {
    const struct {
        Bytes request;
        bool passes;
    } cases[] = {
        {frame("01 05 00 0B FF 00"), true},
        {frame("01 06 00 02 12 34"), true},
        {frame("[03 08 01 CC 02 62 00 01 0A]"), true},
        {frame("01 01 03 00 00 18"), true},  // 24 coils from 768: byte count 3 = address high
        {frame("01 01 00 00 00 18"), false},
        {frame("01 03 00 00 00 01"), false},
        {frame("01 10 00 05 00 01 02 00 07"), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(rtu::echoPassesAsAnswer(c.request.data(), c.request.size()), c.passes)
            << toHex(c.request);
    }
}

}  // namespace
