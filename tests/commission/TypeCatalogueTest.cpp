// The type catalogue as the driver answers it: the recipes must read their examples as the
// devices mean them, and the pictures must show what the conversions do.

#include <gtest/gtest.h>

#include <map>
#include <string>

#include <qarn/commission/TypeCatalogue.h>
#include "GuessDriver.h"

namespace {

TEST(TypeCatalogue, RecipesReadTheirExamplesAsTheDevicesMeanThem) {
    qarntest::GuessDriver driver(false);
    ASSERT_TRUE(driver.protocol.Config(qarn::OfflineConfiguration));
    const qarn::TypeCatalogue catalogue = qarn::buildTypeCatalogue(driver.protocol);
    const std::map<std::string, std::string> expected = {
        {"int(swap2,swap4)", "-123456"},  {"unsignedInt(swap2,swap4)", "123456"},
        {"float(swap2,swap4)", "230.5"},  {"float", "230.5"},
        {"double(swap2,swap8)", "1.5"},   {"double", "1.5"},
        {"unsignedShort(swap2)", "4660"}, {"string-8(swap2)", "\"ABCDE\""},
        {"string-8", "\"ABCDE\""},
    };
    ASSERT_EQ(catalogue.recipes.size(), expected.size());
    for (const qarn::Recipe& r : catalogue.recipes) {
        SCOPED_TRACE(r.dataType);
        ASSERT_EQ(expected.count(r.dataType), 1U);
        const std::string tail = " -> " + expected.at(r.dataType);
        EXPECT_EQ(r.example.substr(r.example.size() - std::min(r.example.size(), tail.size())),
                  tail);
    }
    // Nothing was sent: the catalogue needs no line.
    EXPECT_TRUE(driver.port.requests().empty());
}

TEST(TypeCatalogue, PicturesAndAreasAreThePluginsOwn) {
    qarntest::GuessDriver driver(false);
    ASSERT_TRUE(driver.protocol.Config(qarn::OfflineConfiguration));
    const qarn::TypeCatalogue catalogue = qarn::buildTypeCatalogue(driver.protocol);
    std::map<std::string, std::string> pictures;
    for (const qarn::ConversionEntry& c : catalogue.conversions) {
        pictures[c.name] = c.picture;
    }
    EXPECT_EQ(pictures["swap2"], "AB CD -> BA DC");
    EXPECT_EQ(pictures["swap4"], "AB CD -> DC BA");
    EXPECT_EQ(pictures["swap8"], "AB CD EF GH -> HG FE DC BA");
    EXPECT_EQ(pictures["bcd"], "0x1234 -> 1234 as unsignedShort(bcd)");
    EXPECT_EQ(pictures["neg"], "0x0005 -> -5 as short(neg)");
    EXPECT_EQ(pictures["inv"], "0x00FF -> 65280 (0xFF00) as unsignedShort(inv)");
    EXPECT_EQ(pictures["swapnibble"], "0x1234 -> 8515 (0x2143) as unsignedShort(swapnibble)");

    std::map<std::string, std::pair<std::string, std::string>> types;
    for (const qarn::TypeEntry& t : catalogue.types) {
        types[t.name] = {t.size, t.areas};
    }
    EXPECT_EQ(types["float"],
              std::make_pair(std::string("4 bytes, 2 registers"), std::string("registers")));
    EXPECT_EQ(types["boolean"],
              std::make_pair(std::string("1 bit"), std::string("bits, registers")));
    EXPECT_EQ(types["string-N"].second, "registers");
    EXPECT_EQ(types["int64"].second, "-") << "no area of the driver takes 64-bit integers";
}

}  // namespace
