// Tag lists as a user writes them in a file or on the command line, and the table that poll
// draws on a terminal.

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include <qarn/host/HostTypes.h>
#include "Command.h"
#include "PollOutput.h"
#include "TagList.h"

namespace {

std::vector<std::string> parse(const std::string& text, const std::string& source = "list") {
    std::istringstream in(text);
    std::vector<std::string> out;
    for (const qarn::TagSpec& t : qarn::parseTagList(in, source)) {
        out.push_back(t.name + "|" + t.address + "|" + t.origin);
    }
    return out;
}

TEST(TagList, FilesAndArgumentsGiveUniqueNamesAddressesAndPlaces) {
    EXPECT_EQ(parse("# meter\n\nvolts   1?IREG?300001?int(swap2,swap4)   # 0.1 V\n"
                    "\tfreq\t1?IREG?300032?unsignedShort\r\n1?HREG?400001?short\n"
                    "spaced 2 ? HREG ? 400003 ? short\n   # indented comment\n"),
              (std::vector<std::string>{"volts|1?IREG?300001?int(swap2,swap4)|list:3",
                                        "freq|1?IREG?300032?unsignedShort|list:4",
                                        "1?HREG?400001?short|1?HREG?400001?short|list:5",
                                        "spaced|2 ? HREG ? 400003 ? short|list:6"}));
    try {
        parse("a 1?HREG?400001?short\nvolts # no address\n");
        ADD_FAILURE() << "a name without an address was accepted";
    } catch (const qarn::UsageError& e) {
        EXPECT_STREQ(e.what(), "list:2: 'volts' has no tag address (NAME NODE?AREA?ADDRESS?TYPE)");
    }
    const qarn::TagSpec named = qarn::parseTagArgument(" v = 1?IREG?300001?int ", 3);
    EXPECT_EQ(named.name + "|" + named.address + "|" + named.origin,
              "v|1?IREG?300001?int|argument 3");
    for (const char* bad : {"=1?HREG?400001?short", "v=", "  "}) {
        EXPECT_THROW(qarn::parseTagArgument(bad, 1), qarn::UsageError) << bad;
    }
    // Names must be unique, and the list not empty.
    try {
        qarn::checkTagNames({named, qarn::parseTagArgument("v=1?HREG?400009?short", 5)});
        ADD_FAILURE() << "a name used twice was accepted";
    } catch (const qarn::UsageError& e) {
        EXPECT_STREQ(e.what(), "argument 5: the name 'v' is already used at argument 3");
    }
    EXPECT_THROW(qarn::checkTagNames({}), qarn::UsageError);
}

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
        auto table = qarn::makePollOutput(qarn::PollFormat::Table, out, tags, live, width);
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

}  // namespace
