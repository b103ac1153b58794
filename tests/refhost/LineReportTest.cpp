// The few words a failure gets from what the line did, and the echo mode's names.

#include <gtest/gtest.h>

#include <functional>

#include <qarn/refhost/EchoMode.h>
#include <qarn/refhost/LineReport.h>

namespace {

using refhost::LineReport;

TEST(LineReport, SaysInAFewWordsWhatTheLineDid) {
    const struct {
        std::function<void(LineReport&)> seen;
        std::string text;
    } cases[] = {
        // Echo and late answers: in the serial echo and line recovery tests.
        {[](LineReport&) {}, ""},
        {[](LineReport& r) { r.attempts = r.silent = 3, r.lastTimeoutMs = 200; },
         "no answer within 200 ms, 3 tries"},
        {[](LineReport& r) { r.silent = 1, r.lastTimeoutMs = 50; },
         "no answer within 50 ms, 1 try"},
        {[](LineReport& r) { r.crcErrors = 3; }, "CRC error in 3 answers"},
        {[](LineReport& r) { r.crcErrors = 1, r.incomplete = 2; },
         "answer incomplete in 2 tries; CRC error in 1 answer"},
        {[](LineReport& r) { r.echoOnly = 3; }, "echo only, no answer"},
        {[](LineReport& r) { r.foreign = 1; }, "answer from another node or function"},
        {[](LineReport& r) { r.cancelled = true; }, "stopped"},
        // A gone device explains everything else.
        {[](LineReport& r) { r.gone = true, r.osReason = "hang-up", r.silent = 2; },
         "device gone: hang-up"},
    };
    for (const auto& c : cases) {
        LineReport report;
        c.seen(report);
        EXPECT_EQ(refhost::describe(report), c.text);
    }
}

TEST(EchoMode, NamesReadBackCaseInsensitively) {
    using refhost::EchoMode;
    for (const EchoMode mode : {EchoMode::Auto, EchoMode::On, EchoMode::Off}) {
        EchoMode parsed = mode == EchoMode::On ? EchoMode::Off : EchoMode::On;
        ASSERT_TRUE(refhost::parseEchoMode(refhost::echoModeName(mode), parsed));
        EXPECT_EQ(parsed, mode);
    }
    EchoMode parsed = EchoMode::Auto;
    EXPECT_TRUE(refhost::parseEchoMode("OFF", parsed));
    EXPECT_EQ(parsed, EchoMode::Off);
    EXPECT_FALSE(refhost::parseEchoMode("yes", parsed));
    EXPECT_EQ(parsed, EchoMode::Off) << "unchanged on a bad name";
}

}  // namespace
