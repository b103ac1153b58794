// The byte-order finder against the real driver: one read of the window, every interpretation
// decoded by the plug-in, and the matches ranked.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <qarn/commission/ByteOrderGuess.h>
#include <qarn/toolkit/Errors.h>
#include "GuessDriver.h"

namespace {

using qarn::Interpretation;

std::vector<std::string> dataTypes(const std::vector<Interpretation>& list) {
    std::vector<std::string> names;
    for (const Interpretation& i : list) {
        names.push_back(i.dataType());
    }
    return names;
}

TEST(ByteOrderGuess, EveryByteOrderOnceInItsCanonicalSpellingShortestFirst) {
    EXPECT_EQ(dataTypes(qarn::numberInterpretations(2)),
              (std::vector<std::string>{
                  "unsignedShort", "unsignedShort(swap2)", "short", "short(swap2)", "unsignedInt",
                  "unsignedInt(swap2)", "unsignedInt(swap4)", "unsignedInt(swap2,swap4)", "int",
                  "int(swap2)", "int(swap4)", "int(swap2,swap4)", "float", "float(swap2)",
                  "float(swap4)", "float(swap2,swap4)", "unsignedByte", "byte"}));
    const std::vector<std::string> eight = dataTypes(qarn::allInterpretations(4));
    const std::vector<std::string> doubles(eight.begin() + 16, eight.begin() + 24);
    EXPECT_EQ(doubles,
              (std::vector<std::string>{"double", "double(swap2)", "double(swap4)", "double(swap8)",
                                        "double(swap2,swap4)", "double(swap2,swap8)",
                                        "double(swap4,swap8)", "double(swap2,swap4,swap8)"}));
    EXPECT_EQ(eight.back(), "string-8(swap2,swap4,swap8)");
    // A text gets the shortest string each order can convert, within the window.
    EXPECT_EQ(dataTypes(qarn::textInterpretations(5, 4)),
              (std::vector<std::string>{"string-5", "string-6(swap2)", "string-8(swap4)",
                                        "string-8(swap8)", "string-8(swap2,swap4)",
                                        "string-8(swap2,swap8)", "string-8(swap4,swap8)",
                                        "string-8(swap2,swap4,swap8)"}));
    EXPECT_EQ(dataTypes(qarn::textInterpretations(3, 2)),
              (std::vector<std::string>{"string-3", "string-4(swap2)", "string-4(swap4)",
                                        "string-4(swap2,swap4)"}));
}

TEST(ByteOrderGuess, ToleranceIsAbsoluteOrAPercentage) {
    EXPECT_DOUBLE_EQ(qarn::parseTolerance("0.5").bound(-200), 0.5);
    EXPECT_DOUBLE_EQ(qarn::parseTolerance("0.1%").bound(-200), 0.2);
    EXPECT_DOUBLE_EQ(qarn::parseTolerance("0").bound(5), 0);
    for (const char* bad : {"", "%", "-1", "1e", "abc", "0.1%%", "inf", "nan"}) {
        EXPECT_THROW(qarn::parseTolerance(bad), qarn::UsageError) << bad;
    }
}

struct Case {
    const char* registers;  // the window as the device sends it
    double value;
    const char* tolerance;
    std::vector<std::string> found;  // best first
};

TEST(ByteOrderGuess, OneReadOfTheWindowFindsTheValueBestFirst) {
    const Case cases[] = {
        // 230.5 as a float high word first, and the nearest float to 230.1 (no tolerance).
        {"4366 8000 0000 0000", 230.5, "0", {"1?HREG?400100?float(swap2,swap4)"}},
        {"4366 199A 0000 0000", 230.1, "0", {"1?HREG?400100?float(swap2,swap4)"}},
        {"4366 8000 0000 0000", 230, "0", {}},
        {"4366 8000 0000 0000", 230, "1%", {"1?HREG?400100?float(swap2,swap4)"}},
        // Low word first is the plug-in's own order: no conversion.
        {"8000 4366 0000 0000", 230.5, "0", {"1?HREG?400100?float"}},
        {"3FF8 0000 0000 0000", 1.5, "0", {"1?HREG?400100?double(swap2,swap8)"}},
        {"0000 0000 0000 F83F", 1.5, "0", {"1?HREG?400100?double(swap2)"}},
        // Fewest conversions first; the integers that agree keep the table's order.
        {"0005 0000 0000 0000",
         5,
         "0",
         {"1?HREG?400100?unsignedShort", "1?HREG?400100?short", "1?HREG?400100?unsignedInt",
          "1?HREG?400100?int", "1?HREG?400100?unsignedByte", "1?HREG?400100?byte"}},
        // Then the smaller difference: the float (230.00002) before the integers (231).
        {"00E7 4366 0000 0000",
         230.2,
         "1",
         {"1?HREG?400100?float", "1?HREG?400100?unsignedShort", "1?HREG?400100?short",
          "1?HREG?400100?unsignedByte"}},
        {"FFFE 1DC0 0000 0000", -123456, "0", {"1?HREG?400100?int(swap2,swap4)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.registers) + " " + std::to_string(c.value));
        qarntest::GuessDriver driver;
        ASSERT_TRUE(driver.started);
        driver.answerRegisters(c.registers);
        const qarn::TagAddress base = qarn::TagAddress::parse("1?HREG?400100", false);
        const qarn::WindowReading r =
            qarn::readWindow(driver.protocol, base, 4, qarn::numberInterpretations(4));
        // Every interpretation came out of one request for the four registers.
        ASSERT_EQ(driver.port.requests().size(), 1U);
        EXPECT_EQ(qarntest::toHex(driver.port.requests()[0]).substr(0, 17), "01 03 00 63 00 04");
        EXPECT_EQ(r.requests, 1U);
        ASSERT_EQ(r.registers.size(), 4U);
        std::vector<std::string> found;
        for (const qarn::Match& m :
             qarn::matchNumber(r.candidates, c.value, qarn::parseTolerance(c.tolerance))) {
            found.push_back(r.candidates[m.candidate].tag);
        }
        EXPECT_EQ(found, c.found);
    }
}

TEST(ByteOrderGuess, TextMatchesWithItsPaddingOnly) {
    const struct {
        const char* registers;
        const char* text;
        std::vector<std::string> found;
    } cases[] = {
        {"4142 4344 4500 0000", "ABCDE", {"1?HREG?400001?string-6(swap2)"}},
        {"4142 4344 4520 2020", "ABCDE", {"1?HREG?400001?string-6(swap2)"}},
        {"4241 4443 0045 0000", "ABCDE", {"1?HREG?400001?string-5"}},
        {"4142 4344 4546 0000", "ABCDE", {}},  // a longer text is another text
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.registers);
        qarntest::GuessDriver driver;
        ASSERT_TRUE(driver.started);
        driver.answerRegisters(c.registers);
        const qarn::WindowReading r =
            qarn::readWindow(driver.protocol, qarn::TagAddress::parse("1?HREG?400001", false), 4,
                             qarn::textInterpretations(5, 4));
        std::vector<std::string> found;
        for (const qarn::Match& m : qarn::matchText(r.candidates, c.text)) {
            found.push_back(r.candidates[m.candidate].tag);
        }
        EXPECT_EQ(found, c.found);
    }
}

TEST(ByteOrderGuess, AWindowThatIsNotReadOrNoRegistersIsAFailureNotAGuess) {
    qarntest::GuessDriver driver;
    ASSERT_TRUE(driver.started);
    driver.port.silence();
    const auto read = [&driver](const char* where) {
        qarn::readWindow(driver.protocol, qarn::TagAddress::parse(where, false), 4,
                         qarn::numberInterpretations(4));
    };
    EXPECT_THROW(read("1?HREG?400001"), qarn::Failure);
    EXPECT_THROW(read("1?OUTP?1"), qarn::Failure);
}

TEST(TagAddress, SplitsAndJoinsTheFields) {
    const qarn::TagAddress a = qarn::TagAddress::parse("1?HREG?400001.1?string-8(swap2)", true);
    EXPECT_EQ(a.position(), "400001.1");
    EXPECT_EQ(a.baseType(), "string-8");
    EXPECT_EQ(a.conversionPart(), "(swap2)");
    EXPECT_EQ(a.with("float"), "1?HREG?400001.1?float");
    EXPECT_EQ(qarn::TagAddress::parse("2?IREG?300010", false).place(), "2?IREG?300010");
    for (const char* bad : {"1?HREG?400001", "1?HREG?x?short", "1?HREG?400001.?short",
                            "?HREG?1?short", "1?HREG?1?short?more", "1?HREG?-1?short"}) {
        EXPECT_THROW(qarn::TagAddress::parse(bad, true), qarn::UsageError) << bad;
    }
}

}  // namespace
