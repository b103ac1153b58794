// The line doctor's summary and advice from made-up exchange timings.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include <qarn/commission/LineDoctor.h>

namespace {

using qarn::analyse;
using qarn::DoctorReport;
using refhost::ExchangeTiming;
using Kind = ExchangeTiming::Kind;

constexpr int64_t CharUs9600 = 1146;  // 8E1

// An answer of `bytes` bytes, first byte `latencyMs` after the request, in `chunks` reads
// spread evenly over its line time (or `gapMs` apart when given).
ExchangeTiming answer(double latencyMs, int bytes = 7, int chunks = 7, double gapMs = -1,
                      int64_t atUs = 0) {
    ExchangeTiming e;
    e.kind = Kind::Answer;
    e.node = 1;
    e.function = 3;
    e.baud = 9600;
    e.charUs = CharUs9600;
    e.timeoutMs = 200;
    e.answerBytes = bytes;
    e.chunks = chunks;
    e.latencyUs = static_cast<int64_t>(latencyMs * 1000);
    const int64_t lineUs = CharUs9600 * (bytes - 1);
    const int64_t gapUs = gapMs >= 0 ? static_cast<int64_t>(gapMs * 1000)
                                     : (chunks > 1 ? lineUs / (chunks - 1) : 0);
    e.maxGapUs = chunks > 1 ? gapUs : 0;
    e.completeUs = e.latencyUs + (chunks > 1 ? gapUs * (chunks - 1) : 0);
    e.firstByteAtUs = atUs;
    return e;
}

ExchangeTiming failed(Kind kind) {
    ExchangeTiming e = answer(0);
    e.kind = kind;
    e.latencyUs = e.completeUs = -1;
    e.chunks = 0;
    e.answerBytes = 0;
    e.maxGapUs = 0;
    return e;
}

std::string recommended(const DoctorReport& r, const std::string& option) {
    for (const qarn::Recommendation& rec : r.recommended) {
        if (rec.option == option) {
            return rec.value;
        }
    }
    return "(none)";
}

bool warns(const DoctorReport& r, const std::string& text) {
    for (const std::string& w : r.warnings) {
        if (w.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

TEST(LineDoctor, SumsUpLatencyAndRecommendsATimeOutWithMargin) {
    std::vector<ExchangeTiming> samples;
    for (int i = 1; i <= 100; ++i) {
        samples.push_back(answer(100 + i));  // 101 .. 200 ms
    }
    const DoctorReport r = analyse(samples, {100, 0, false});
    ASSERT_TRUE(r.latencyMs);
    EXPECT_DOUBLE_EQ(r.latencyMs->min, 101);
    EXPECT_DOUBLE_EQ(r.latencyMs->median, 150.5);
    EXPECT_DOUBLE_EQ(r.latencyMs->p99, 199);
    EXPECT_DOUBLE_EQ(r.latencyMs->max, 200);
    EXPECT_EQ(r.answers, 100);
    // The slowest: 200 ms + 6 characters = 206.9 ms; 1.5 times is 310.3, rounded up to 320.
    EXPECT_NEAR(r.slowestCompleteMs, 206.876, 0.001);
    EXPECT_EQ(recommended(r, "--timeout"), "320");
    EXPECT_EQ(recommended(r, "--delay"), "0");
    EXPECT_EQ(recommended(r, "--late-guard"), "20");
    EXPECT_EQ(recommended(r, "--echo"), "off");
    EXPECT_FALSE(r.burst);
    // The waits used 200 ms: the slowest answer came close.
    ASSERT_EQ(r.warnings.size(), 1u);
    EXPECT_TRUE(warns(r, "the time-out of 200 ms leaves little room"));
    // A fast line keeps a margin of its own: 10 ms + 20 ms.
    EXPECT_EQ(recommended(analyse({answer(3.1, 7, 1, 0)}), "--timeout"), "30");
}

TEST(LineDoctor, TellsEchoFromTheExchanges) {
    ExchangeTiming echoed = answer(50);
    echoed.echo = true;
    ExchangeTiming echoOnly = failed(Kind::EchoOnly);
    echoOnly.echo = true;
    const struct {
        std::vector<ExchangeTiming> samples;
        const char* option;
        bool mixed;
    } cases[] = {
        {{echoed, echoed, echoOnly}, "on", false},
        {{answer(50), answer(50)}, "off", false},
        {{echoed, answer(50)}, "auto", true},
        {{failed(Kind::Silent)}, "auto", false},
    };
    for (const auto& c : cases) {
        const DoctorReport r = analyse(c.samples);
        EXPECT_EQ(recommended(r, "--echo"), c.option);
        EXPECT_EQ(warns(r, "some requests came back"), c.mixed) << c.option;
    }
    EXPECT_FALSE(analyse({failed(Kind::Silent)}).echo.has_value());
    EXPECT_TRUE(*analyse({echoed}).echo);
}

TEST(LineDoctor, FindsUsbBurstsAndTheirInterval) {
    // Whole answers in one read, every other one straddling a boundary: two reads 16 ms apart.
    std::vector<ExchangeTiming> gaps;
    for (int i = 0; i < 10; ++i) {
        gaps.push_back(i % 2 == 0 ? answer(20, 7, 1) : answer(20, 7, 2, 16));
    }
    // Never straddling: the interval from the grid the deliveries fall on (varying multiples).
    std::vector<ExchangeTiming> grid;
    int64_t at = 1000000;
    for (int i = 0; i < 12; ++i) {
        at += (3 + i % 4) * 16000 + (i % 3) * 200;  // a little jitter
        grid.push_back(answer(20, 7, 1, 0, at));
    }
    // A UART passes bytes on one or two at a time; short answers at a high rate tell nothing.
    std::vector<ExchangeTiming> uart(10, answer(20, 7, 5));
    ExchangeTiming fast = answer(2, 7, 1);
    fast.charUs = 95;  // 115200 baud

    const DoctorReport g = analyse(gaps);
    EXPECT_TRUE(g.burst);
    ASSERT_TRUE(g.burstMs);
    EXPECT_DOUBLE_EQ(*g.burstMs, 16);
    EXPECT_TRUE(warns(g, "bursts every 16.0 ms"));
    // A quiet line for twice the interval: nothing more on its way.
    EXPECT_EQ(recommended(g, "--late-guard"), "40");

    const DoctorReport d = analyse(grid);
    EXPECT_TRUE(d.burst);
    ASSERT_TRUE(d.burstMs);
    EXPECT_NEAR(*d.burstMs, 16, 0.3);

    EXPECT_FALSE(analyse(uart).burst);
    EXPECT_EQ(analyse(uart).burstSamples, 10);
    EXPECT_EQ(analyse({fast, fast}).burstSamples, 0);
}

TEST(LineDoctor, WarnsOfGapsTheGapRuleWouldCut) {
    const DoctorReport cut = analyse({answer(20, 9, 3, 12)});
    EXPECT_DOUBLE_EQ(cut.maxGapMs, 12);
    EXPECT_EQ(cut.gapRuleMs, 10);
    EXPECT_TRUE(warns(cut, "the 10 ms gap rule (10 ms at 9600 baud) would cut them"));
    EXPECT_FALSE(warns(analyse({answer(20, 9, 3, 9)}), "gap rule"));
    ExchangeTiming slow = answer(20, 9, 3, 12);
    slow.baud = 1200;  // 27 ms there
    EXPECT_FALSE(warns(analyse({slow}), "gap rule"));
}

TEST(LineDoctor, CountsLateAnswersAndFailuresByKind) {
    ExchangeTiming late = answer(100);
    late.lateBytes = 7;
    late.lateAfterUs = 260000;  // the silent wait's answer, 260 ms after its request
    ExchangeTiming stray = answer(100);
    stray.lateBytes = 3;  // after a good answer: noise, not a late answer
    stray.lateAfterUs = 150000;
    ExchangeTiming exception = answer(100, 5, 5);
    exception.kind = Kind::Exception;
    const std::vector<ExchangeTiming> samples = {
        answer(100), failed(Kind::Silent), late,        stray, failed(Kind::Damaged),
        exception,   failed(Kind::Foreign), answer(100)};
    const DoctorReport r = analyse(samples, {7, 1, false});
    EXPECT_EQ(r.lateAnswers, 1);
    EXPECT_DOUBLE_EQ(r.latestLateMs, 260);
    EXPECT_EQ(r.answers, 5);  // the exception answered too
    const std::map<std::string, int> want = {
        {"silent", 1},  {"incomplete", 0}, {"crc", 1},          {"foreign", 1},
        {"unexpected", 0}, {"echo_only", 0}, {"echo_unknown", 0}, {"exception", 1},
        {"stray_bytes", 1}};
    EXPECT_EQ(r.failures, want);
    // The late answer sets the time-out: 260 ms + its 6.9 ms on the line, half as much again.
    EXPECT_EQ(recommended(r, "--timeout"), "410");
    // The silent wait's answer came: no pause needed, the time-out was short.
    EXPECT_EQ(recommended(r, "--delay"), "0");

    // Without late answers, requests lost among good ones ask for a pause.
    const DoctorReport lost =
        analyse({answer(40), failed(Kind::Silent), answer(40), failed(Kind::Incomplete)});
    EXPECT_EQ(recommended(lost, "--delay"), "40");
}

TEST(LineDoctor, JsonHasTheDocumentedShape) {
    const nlohmann::json some = nlohmann::json::parse(
        qarn::doctorJson(analyse({answer(100), answer(120)}, {2, 0, false})));
    for (const char* key : {"min", "median", "p99", "max"}) {
        EXPECT_TRUE(some["latency_ms"][key].is_number()) << key;
    }
    EXPECT_DOUBLE_EQ(some["latency_ms"]["median"].get<double>(), 110);
    EXPECT_TRUE(some["max_gap_ms"].is_number());
    EXPECT_EQ(some["echo"], false);
    EXPECT_TRUE(some["burst_ms"].is_null());
    EXPECT_EQ(some["failures"]["silent"], 0);
    // 120 ms + 6.9 ms on the line, half as much again: 190.3, rounded up.
    EXPECT_EQ(some["recommended"]["timeout"]["value"], 200);
    EXPECT_EQ(some["recommended"]["echo"]["value"], "off");
    for (const char* key : {"timeout", "delay", "late_guard", "echo"}) {
        EXPECT_FALSE(some["recommended"][key]["reason"].get<std::string>().empty()) << key;
    }

    const nlohmann::json none = nlohmann::json::parse(
        qarn::doctorJson(analyse({failed(Kind::Silent)}, {1, 1, true})));
    EXPECT_TRUE(none["latency_ms"]["median"].is_null());
    EXPECT_TRUE(none["echo"].is_null());
    EXPECT_TRUE(none["recommended"]["timeout"]["value"].is_null());
    EXPECT_EQ(none["failures"]["silent"], 1);
    EXPECT_EQ(none["stopped"], true);
}

}  // namespace
