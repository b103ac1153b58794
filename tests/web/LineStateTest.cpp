// What a line's state keeps: trend rings that span the same time at any poll rate, the last
// frames of the traffic, failure kinds, health figures and their metrics.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include <qarn/web/FailureKind.h>
#include <qarn/web/LineState.h>
#include <qarn/web/Metrics.h>
#include <qarn/web/TrafficRing.h>
#include <qarn/web/TrendRing.h>

namespace {

using qarn::web::CycleUpdate;
using qarn::web::LineState;
using qarn::web::TagReadingState;

TEST(TrendRing, KeepsPointsSpacedAndDropsTheOldestWhenFull) {
    qarn::web::TrendRing ring(4, 500);
    for (int64_t t = 0; t <= 3000; t += 100) {  // ten polls a second: every fifth is kept
        ring.add({t, static_cast<double>(t)});
    }
    std::vector<int64_t> times;
    for (const auto& p : ring.points()) {
        times.push_back(p.timeMs);
        EXPECT_EQ(p.value, static_cast<double>(p.timeMs));
    }
    EXPECT_EQ(times, (std::vector<int64_t>{1500, 2000, 2500, 3000}));
    ring.add({1000, 1});  // the clock went back: start over
    ASSERT_EQ(ring.size(), 1u);
    EXPECT_EQ(ring.points()[0].timeMs, 1000);
    // The default spans ten minutes.
    EXPECT_EQ(static_cast<int64_t>(qarn::web::TrendRing::DefaultCapacity) *
                  qarn::web::TrendRing::DefaultSpacingMs,
              10 * 60 * 1000);
}

TEST(TrafficRing, KeepsTheLastFramesDecodedWithSequenceNumbers) {
    qarn::web::TrafficRing ring;
    const uint8_t request[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A};
    for (size_t i = 0; i < qarn::web::TrafficRing::Capacity + 5; ++i) {
        ring.frame({"TX", request, sizeof request, true, std::chrono::system_clock::now()});
    }
    ring.note("time-out");
    EXPECT_EQ(ring.lastSeq(), qarn::web::TrafficRing::Capacity + 6);
    const auto all = ring.since(0);
    ASSERT_EQ(all.size(), qarn::web::TrafficRing::Capacity);
    EXPECT_EQ(all.front().seq, 7u);
    EXPECT_EQ(all.front().hex, "01 03 00 00 00 01 84 0A");
    EXPECT_NE(all.front().text.find("node 1"), std::string::npos) << all.front().text;
    const auto news = ring.since(ring.lastSeq() - 1);
    ASSERT_EQ(news.size(), 1u);
    EXPECT_EQ(news[0].direction, "NOTE");
    EXPECT_EQ(news[0].text, "time-out");
}

TEST(FailureKind, FromThePortsReasonThenTheCode) {
    const std::pair<const char*, const char*> cases[] = {
        {"Communication error (no answer within 400 ms, 1 try)", "timeout"},
        {"Communication error (CRC error in 1 answer)", "crc"},
        {"Communication error (device gone: hang-up; no answer within 9 ms, 1 try)", "gone"},
        {"Exception: Failure in device", "exception"},
        {"Incorrect node address in response (answer from another node or function)",
         "wrong_answer"},
        {"Communication error (answer incomplete in 2 tries)", "incomplete"},
        {"read conversion error", "error_9"},
    };
    for (const auto& [text, kind] : cases) {
        EXPECT_EQ(
            qarn::web::failureKind(text == std::string("read conversion error") ? -9 : -6, text),
            kind)
            << text;
    }
}

CycleUpdate cycle(double seconds, std::vector<std::string> failed, double value) {
    CycleUpdate u;
    TagReadingState number;
    number.read = number.ok = true;
    number.value = value;
    number.number = value;
    number.timeMs = 1000000 + static_cast<int64_t>(value) * 1000;
    TagReadingState text;
    text.read = text.ok = true;
    text.value = "pump \"A\"";
    text.timeMs = number.timeMs;
    TagReadingState bad;
    bad.read = true;
    bad.code = -6;
    bad.text = "Communication error";
    u.readings = {number, text, bad};
    u.requests = 3;
    u.failedKinds = std::move(failed);
    u.seconds = seconds;
    u.up = true;
    return u;
}

void addThreeTags(LineState& state) {
    state.setTags({{"volts", "1?HREG?400001?unsignedShort", "unsignedShort", true},
                   {"name", "1?HREG?400010?string-8", "string-8", false},
                   {"flow", "2?IREG?300001?float", "float", false}});
}

TEST(LineState, HealthCountsCyclesFailuresAndCycleTimes) {
    LineState state("ttyUSB0");
    addThreeTags(state);
    state.publish(cycle(0.02, {}, 1));
    state.publish(cycle(0.3, {"timeout"}, 2));
    state.publish(cycle(0.04, {"timeout", "crc"}, 3));
    const nlohmann::json h = state.healthJson();
    EXPECT_EQ(h["cycles"], 3);
    EXPECT_EQ(h["requests"], 9);
    EXPECT_EQ(h["failed_requests"], 3);
    EXPECT_EQ(h["failures"], (nlohmann::json{{"crc", 1}, {"timeout", 2}}));
    EXPECT_DOUBLE_EQ(h["cycle_ms"]["last"].get<double>(), 40);
    EXPECT_DOUBLE_EQ(h["cycle_ms"]["median"].get<double>(), 40);
    EXPECT_DOUBLE_EQ(h["cycle_ms"]["max"].get<double>(), 300);

    const nlohmann::json tags = state.tagsJson();
    EXPECT_EQ(tags[0]["value"], 3);
    EXPECT_EQ(tags[0]["time"], "1970-01-01T00:16:43.000Z");
    EXPECT_EQ(tags[2]["value"], nullptr);
    EXPECT_EQ(tags[2]["error"], (nlohmann::json{{"code", -6}, {"text", "Communication error"}}));
    // Only numeric tags have a trend.
    const nlohmann::json trends = state.trendsJson({});
    EXPECT_EQ(trends, (nlohmann::json{{"volts", {{1001000, 1}, {1002000, 2}, {1003000, 3}}}}));
}

TEST(Metrics, SeriesPerTagLineAndCycleHistogram) {
    LineState state("ttyUSB0");
    addThreeTags(state);
    state.publish(cycle(0.02, {}, 7));
    state.publish(cycle(0.3, {"timeout"}, 8));
    const std::string text = qarn::web::metricsText({&state});
    const char* const expected[] = {
        "# TYPE qarn_tag_value gauge\n"
        "qarn_tag_value{name=\"volts\",tag=\"1?HREG?400001?unsignedShort\"} 8\n"
        "# HELP qarn_tag_ok",
        "qarn_tag_ok{name=\"volts\"} 1\nqarn_tag_ok{name=\"name\"} 1\nqarn_tag_ok{name=\"flow\"} "
        "0\n",
        "\nqarn_requests_total 6\n",
        "\nqarn_failures_total{kind=\"timeout\"} 1\n",
        "\nqarn_cycle_seconds_bucket{le=\"0.01\"} 0\nqarn_cycle_seconds_bucket{le=\"0.025\"} 1\n",
        "\nqarn_cycle_seconds_bucket{le=\"0.25\"} 1\nqarn_cycle_seconds_bucket{le=\"0.5\"} 2\n",
        "\nqarn_cycle_seconds_bucket{le=\"+Inf\"} 2\nqarn_cycle_seconds_sum 0.3",
        "\nqarn_cycle_seconds_count 2\n",
        "\nqarn_line_up 1\n",
    };
    for (const char* part : expected) {
        EXPECT_NE(text.find(part), std::string::npos) << part << "\nin:\n" << text;
    }
    // With several lines every series names its line; label values are escaped.
    LineState other("a \"b\"\\c");
    const std::string both = qarn::web::metricsText({&state, &other});
    EXPECT_NE(both.find("qarn_requests_total{line=\"ttyUSB0\"} 6\n"), std::string::npos) << both;
    EXPECT_NE(both.find("qarn_line_up{line=\"a \\\"b\\\"\\\\c\"} 0\n"), std::string::npos) << both;
}

}  // namespace
