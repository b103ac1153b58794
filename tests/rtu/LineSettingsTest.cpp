// Line facts: which rates a line may run at, and the character and silence times they give.

#include <gtest/gtest.h>

#include <qarn/rtu/LineSettings.h>

namespace {

using rtu::Parity;

TEST(RtuLine, OnlyTheStandardRatesHaveATermiosSpeed) {
    const std::pair<int, speed_t> cases[] = {
        {1200, B1200}, {9600, B9600}, {19200, B19200}, {230400, B230400}, {460800, B0},
        {921600, B0},  {0, B0},       {-9600, B0},     {9601, B0},
    };
    for (const auto& [baud, speed] : cases) {
        EXPECT_EQ(rtu::termiosSpeed(baud), speed) << baud;
        EXPECT_EQ(rtu::isStandardBaud(baud), speed != B0) << baud;
    }
    for (int baud : rtu::StandardBaudRates) {
        EXPECT_TRUE(rtu::isStandardBaud(baud)) << baud;
    }
}

TEST(RtuLine, CharacterAndSilenceTimes) {
    const struct {
        int baud, dataBits;
        Parity parity;
        int stopBits;
        int64_t characterUs;  // rounded up
        int64_t threeAndHalfUs, silenceUs;
    } cases[] = {
        {9600, 8, Parity::None, 1, 1042, 3647, 3647},
        {9600, 8, Parity::Even, 1, 1146, 4011, 4011},
        {1200, 8, Parity::Odd, 2, 10000, 35000, 35000},
        {1200, 7, Parity::Mark, 1, 8334, 29169, 29169},
        {19200, 8, Parity::None, 1, 521, 1824, 1824},  // the last rate that scales
        {38400, 8, Parity::None, 1, 261, 914, 1750},
        {230400, 8, Parity::Even, 2, 53, 186, 1750},
    };
    for (const auto& c : cases) {
        const int64_t characterUs = rtu::characterTimeUs(c.baud, c.dataBits, c.parity, c.stopBits);
        EXPECT_EQ(characterUs, c.characterUs) << c.baud;
        EXPECT_EQ(rtu::threeAndHalfCharactersUs(characterUs), c.threeAndHalfUs) << c.baud;
        EXPECT_EQ(rtu::frameSilenceUs(c.baud, characterUs), c.silenceUs) << c.baud;
    }
}

TEST(RtuLine, ParityNamesAndCodesGoBothWays) {
    const std::pair<const char*, Parity> cases[] = {{"none", Parity::None},
                                                    {"even", Parity::Even},
                                                    {"odd", Parity::Odd},
                                                    {"mark", Parity::Mark}};
    for (const auto& [name, parity] : cases) {
        EXPECT_STREQ(rtu::parityName(static_cast<int>(parity)), name);
        Parity parsed = Parity::None;
        std::string upper = name;
        for (char& ch : upper) {
            ch = static_cast<char>(ch - 'a' + 'A');
        }
        EXPECT_TRUE(rtu::parseParity(upper, parsed)) << upper;
        EXPECT_EQ(parsed, parity) << upper;
    }
    EXPECT_STREQ(rtu::parityName(4), "?");
    EXPECT_STREQ(rtu::parityName(-1), "?");
    Parity untouched = Parity::Odd;
    EXPECT_FALSE(rtu::parseParity("space", untouched));
    EXPECT_FALSE(rtu::parseParity("", untouched));
    EXPECT_EQ(untouched, Parity::Odd);
}

}  // namespace
