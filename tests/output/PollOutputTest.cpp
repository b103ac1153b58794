// How poll shows its cycles: the table that it draws on a terminal, and the format names.

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include <qarn/host/HostTypes.h>
#include <qarn/output/PollFormats.h>
#include <qarn/toolkit/Errors.h>

namespace {

// Three tags, one failed, through the table.
TEST(PollTable, ShowsEachTagOnceAndRedrawsInPlaceOnATerminal) {
    const std::vector<qarn::PolledTag> tags = {
        {"volts", "1?IREG?300001?short", {ICU_SHORT, 2, ICU_NONE}},
        {"bits", "2?INP?100001?boolean-2", {ICU_BOOLEAN_ARRAY, 2, ICU_BOOLEAN}},
        {"1?NO?0?unsignedByte", "1?NO?0?unsignedByte", {ICU_UNSIGNED_BYTE, 1, ICU_NONE}}};
    const auto now = std::chrono::system_clock::now();
    const std::vector<qarn::TagResult> results = {
        {true, {0xFE, 0xFF}, 0, "", now},
        {false, {}, -6, "Exception: Illegal data address", now},
        {true, {7}, 0, "", now}};
    const auto draw = [&](bool live, int width, int cycles) {
        std::ostringstream out;
        auto table = qarn::makePollOutput({qarn::PollFormat::Table, live, width}, out, tags);
        for (int i = 0; i < cycles; ++i) {
            table->cycle(qarn::CycleInfo{4, 10, now}, results,
                         qarn::CycleSummary{true, 2, 1, 1, std::chrono::microseconds(12345)});
        }
        return out.str();
    };
    const std::string plain = draw(false, 0, 1);
    for (const char* row : {"volts                1?IREG?300001?short     -2\n",
                            "2?INP?100001?boolean-2  error -6: Exception: Illegal data address\n",
                            "1?NO?0?unsignedByte                          7\n",
                            "cycle 4/10: 2 requests, 1 failed, 1 tag in error, 12.3 ms, at "}) {
        EXPECT_NE(plain.find(row), std::string::npos) << plain;
    }
    EXPECT_EQ(plain.find('\x1b'), std::string::npos);
    // The second cycle goes back over the five lines of the first and clears them.
    const std::string live = draw(true, 0, 2);
    const size_t redraw = live.find("\x1b[5F\x1b[J");
    ASSERT_NE(redraw, std::string::npos) << live;
    EXPECT_EQ(live.substr(redraw + 7, 100), live.substr(0, 100));
    // Lines are cut to the terminal's width, so that none wraps.
    std::istringstream rows(draw(true, 30, 1));
    for (std::string row; std::getline(rows, row);) {
        EXPECT_LE(row.size(), 29U) << row;
    }
}

TEST(PollFormat, AutoIsTheTableOnATerminalOnly) {
    EXPECT_EQ(qarn::pollFormat("auto", true), qarn::PollFormat::Table);
    EXPECT_EQ(qarn::pollFormat("auto", false), qarn::PollFormat::Csv);
    EXPECT_EQ(qarn::pollFormat("table", false), qarn::PollFormat::Table);
    EXPECT_EQ(qarn::pollFormat("jsonl", true), qarn::PollFormat::Jsonl);
    EXPECT_THROW(qarn::pollFormat("xml", true), qarn::UsageError);
}

}  // namespace
