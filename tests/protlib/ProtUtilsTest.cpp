// Data types, bit streams and string helpers.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ProtUtilsN.h"
#include "TestDriver.h"

using namespace ProtUtilsN;
using Bytes = std::vector<uint8_t>;
using Strings = std::vector<std::string>;

TEST(DataTypes, LengthsAndFlagsOutsideTheFixedRows) {
    for (int t : {0, -1, 25, 26, 27, 28}) {
        EXPECT_EQ(GetDataLength(static_cast<ICU_Type>(t)), 0) << t;
    }
    EXPECT_EQ(GetDataLength(ICU_TIME), 10);
    EXPECT_EQ(GetDataLength(ICU_INT64), 8);
    EXPECT_EQ(GetTypeFlag(ICU_OBJECT), 0x4000000);
    EXPECT_EQ(GetTypeFlag(ICU_NONE), 0);
    EXPECT_EQ(GetTypeFlag(static_cast<ICU_Type>(28)), 0);
    // Every row's flag is its own bit in a type mask; rows are indexed by value.
    for (int i = 0; i < DataTypeCount; ++i) {
        EXPECT_EQ(DataTypes[i].type, i + 1);
        EXPECT_EQ(GetTypeFlag(DataTypes[i].type), 1 << i);
    }
    EXPECT_TRUE(IsBitType(ICU_BOOLEAN));
    EXPECT_TRUE(IsBitType(ICU_BOOLEAN_ARRAY));
    EXPECT_FALSE(IsBitType(ICU_UNSIGNED_BYTE));
}

TEST(DataTypes, ItemCountsAndBasicTypes) {
    EXPECT_EQ(GetItemCount(20, ICU_NONE), 1);
    EXPECT_EQ(GetItemCount(20, ICU_INT), 5);
    EXPECT_EQ(GetItemCount(7, ICU_INT), 1);
    EXPECT_EQ(GetItemCount(24, ICU_OBJECT), 1);

    const TestTag array("0?short-3");
    EXPECT_EQ(GetItemCount(&array), 3);
    EXPECT_EQ(GetBasicType(&array), ICU_SHORT);
    EXPECT_EQ(GetBasicLength(&array), 2);
    const TestTag scalar("0?double");
    EXPECT_EQ(GetItemCount(&scalar), 1);
    EXPECT_EQ(GetBasicType(&scalar), ICU_DOUBLE);
    EXPECT_EQ(GetBasicLength(&scalar), 8);
}

TEST(DataTypes, ParsesDataTypeStrings) {
    struct Case {
        const char* text;
        bool ok;
        int varType, itemType, length;
        Strings conversions;
    };
    const Case cases[] = {
        {"int", true, 4, 0, 4, {}},
        {"  int  ", true, 4, 0, 4, {}},
        {"unsignedShort(swap2)", true, 6, 0, 2, {"swap2"}},
        {"string-20", true, 10, 2, 20, {}},
        {"int-5", true, 16, 4, 20, {}},
        {"boolean-16", true, 13, 1, 16, {}},
        {"time-2", true, 22, 12, 20, {}},
        {"uint64-3", true, 25, 23, 24, {}},
        {"object", true, 27, 0, 0, {}},
        {"int-", true, 16, 4, 0, {}},
        {"int-+2", true, 16, 4, 8, {}},
        {"float ( inv , neg ) tail", true, 8, 0, 4, {"inv", "neg"}},
        {"int()", true, 4, 0, 4, {""}},
        {"Int", false, -7, -7, -7, {}},
        {"int - 5", false, -7, -7, -7, {}},
        {"short(swap2", false, -7, -7, -7, {}},
        {"short)(swap2", false, -7, -7, -7, {}},
        {"nosuch(bcd)", false, -7, -7, -7, {"bcd"}},
        {"int--5", false, -7, -7, -7, {}},
        {"double-999999999999", false, -7, -7, -7, {}},
    };
    for (const Case& c : cases) {
        ICU_Type varType = static_cast<ICU_Type>(-7);
        ICU_Type itemType = static_cast<ICU_Type>(-7);
        int length = -7;
        Strings conversions{"kept"};
        EXPECT_EQ(GetORBAType(c.text, varType, itemType, length, conversions), c.ok) << c.text;
        // Failures write nothing but keep conversion names already split off.
        EXPECT_EQ(varType, c.varType) << c.text;
        EXPECT_EQ(itemType, c.itemType) << c.text;
        EXPECT_EQ(length, c.length) << c.text;
        Strings expected{"kept"};
        expected.insert(expected.end(), c.conversions.begin(), c.conversions.end());
        EXPECT_EQ(conversions, expected) << c.text;
    }
}

TEST(DataTypes, BuildsDataTypeStringsThatParseBack) {
    EXPECT_EQ(GetORBAName(ICU_INT_ARRAY, 20), "int-5");
    EXPECT_EQ(GetORBAName(ICU_STRING, 20), "string-20");
    EXPECT_EQ(GetORBAName(ICU_BOOLEAN_ARRAY, 16), "boolean-16");
    EXPECT_EQ(GetORBAName(ICU_INT, 99), "int");
    EXPECT_EQ(GetORBAName(ICU_OBJECT, 7), "object7");
    EXPECT_EQ(GetORBAName(ICU_NONE, 4), "??");
    EXPECT_EQ(GetORBAName(static_cast<ICU_Type>(28), 4), "??");
    for (const DataType& row : DataTypes) {
        if (row.type == ICU_OBJECT) {
            continue;
        }
        const int length = row.length != 0 ? row.length : 3 * GetDataLength(row.itemType);
        ICU_Type varType{}, itemType{};
        int parsed = 0;
        Strings conversions;
        ASSERT_TRUE(
            GetORBAType(GetORBAName(row.type, length), varType, itemType, parsed, conversions))
            << row.name;
        EXPECT_EQ(varType, row.type);
        EXPECT_EQ(parsed, length) << row.name;
    }
}

TEST(Bits, ByteCountsAndTagSpans) {
    const int cases[][3] = {{0, 1, 1}, {7, 2, 2}, {8, 8, 1}, {0, 0, 1}, {8, 0, 0}, {3, 16, 3}};
    for (const auto& c : cases) {
        EXPECT_EQ(GetLenOfBits(c[0], c[1]), c[2]) << c[0] << "," << c[1];
    }
    const TestTag bits("2.5?boolean-7");  // bits 21..27
    EXPECT_EQ(getStartingBit(&bits), 21);
    EXPECT_EQ(getEndingBit(&bits), 28);
    const TestTag word("2.5?int");  // a bit index means nothing to a non-bit type
    EXPECT_EQ(getStartingBit(&word), 16);
    EXPECT_EQ(getEndingBit(&word), 48);
}

TEST(Bits, UnpackAndPackAtAnyBit) {
    uint8_t out[4] = {9, 9, 9, 9};
    const uint8_t five = 0x05;
    UnpackBits(out, &five, 0, 4);
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{1, 0, 1, 0}));

    const uint8_t src[2] = {0x80, 0x01};  // bits 7 and 8 across the byte border
    UnpackBits(out, src, 6, 4);
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{0, 1, 1, 0}));

    uint8_t dst[2] = {0x00, 0x00};
    const uint8_t ones[2] = {1, 1};
    PackBits(dst, ones, 3, 2);
    EXPECT_EQ(dst[0], 0x18);
    uint8_t keep[2] = {0xFF, 0xFF};
    const uint8_t pattern[4] = {0, 7, 0, 0};  // any non-zero byte sets its bit
    PackBits(keep, pattern, 6, 4);
    EXPECT_EQ(keep[0], 0xBF);
    EXPECT_EQ(keep[1], 0xFC);
    out[0] = 9;
    PackBits(keep, pattern, 0, 0);
    UnpackBits(out, src, 0, -1);
    EXPECT_EQ(keep[0], 0xBF);
    EXPECT_EQ(out[0], 9);
}

TEST(Bits, CopyAndShiftKeepOtherBits) {
    const uint8_t src[3] = {0x00, 0xF0, 0x0F};
    uint8_t dst[2] = {0x0A, 0x50};
    // Source bits 12..19 land in the same places inside dst[0..1].
    CopyBits(dst, src, 12, 8);
    EXPECT_EQ(dst[0], 0xFA);
    EXPECT_EQ(dst[1], 0x5F);

    uint8_t one = 0x00;
    const uint8_t top = 0x80;
    shiftBits(&one, 0, &top, 7, 1);
    EXPECT_EQ(one, 0x01);
    uint8_t wide[2] = {0xFF, 0xFF};
    const uint8_t zero[2] = {0, 0};
    shiftBits(wide, 5, zero, 0, 6);
    EXPECT_EQ(wide[0], 0x1F);
    EXPECT_EQ(wide[1], 0xF8);
    CopyBits(wide, src, 8, 0);
    EXPECT_EQ(wide[0], 0x1F);
}

TEST(Strings, TrimAndSplit) {
    const std::pair<const char*, const char*> trims[] = {
        {" \t a b \t", "a b"}, {"\t \t", ""}, {"", ""}, {"x", "x"}, {"\nx ", "\nx"}};
    for (const auto& t : trims) {
        EXPECT_EQ(GetTrim(t.first), t.second);
        std::string s = t.first;
        Trim(s);
        EXPECT_EQ(s, t.second);
    }
    const std::pair<const char*, Strings> splits[] = {
        {"a, b,,c", {"a", "b", "", "c"}},
        {"", {""}},
        {",", {"", ""}},
        {" one ", {"one"}},
    };
    for (const auto& s : splits) {
        Strings out{"kept"};
        ParseSubstrings(s.first, out, ',');
        Strings expected{"kept"};
        expected.insert(expected.end(), s.second.begin(), s.second.end());
        EXPECT_EQ(out, expected) << s.first;
    }
}

TEST(Strings, ConfigValueLookup) {
    struct Case {
        const char* text;
        const char* key;
        bool found;
        const char* value;
    };
    const Case cases[] = {
        {"baud=9600;par=even", "par", true, "even"},
        {"baud=9600;par=even", "aud", true, "9600"},
        {"baud=9600;par=even", "stop", false, "untouched"},
        {"a= b", "a", true, ""},
        {"mode=rs-485", "mode", true, "rs"},
        {"x=1 x=2", "x", true, "1"},
    };
    for (const Case& c : cases) {
        std::string value = "untouched";
        EXPECT_EQ(GetConfigValue(c.text, c.key, value), c.found) << c.text << " " << c.key;
        EXPECT_EQ(value, c.value) << c.text << " " << c.key;
    }
}

TEST(Strings, IntegerToText) {
    struct Case {
        int value, base;
        const char* text;
    };
    const Case cases[] = {{0, 10, "0"},
                          {1234, 10, "1234"},
                          {255, 16, "ff"},
                          {0xABC, 16, "abc"},
                          {5, 2, "101"},
                          {8, 8, "10"},
                          {2147483647, 10, "2147483647"},
                          {-5, 10, "5"},
                          {7, 0, "7"}};
    for (const Case& c : cases) {
        char buffer[40];
        std::memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(itoa(c.value, buffer, c.base), buffer);
        EXPECT_STREQ(buffer, c.text) << c.value << " base " << c.base;
    }
    EXPECT_EQ(GetVersion(), 200);
}
