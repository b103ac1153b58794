// Data types, bit streams and string helpers. Unpacking and packing bits is shown through the bit
// tags of the conversion tests.

#include <gtest/gtest.h>

#include <tuple>

#include "TestDriver.h"

namespace {

using namespace ProtUtilsN;
using Bytes = std::vector<uint8_t>;
using Strings = std::vector<std::string>;

TEST(DataTypes, LengthsFlagsAndItemCounts) {
    for (int t : {0, -1, 25, 26, 27, 28}) {
        EXPECT_EQ(GetDataLength(static_cast<ICU_Type>(t)), 0) << t;
    }
    EXPECT_EQ(GetDataLength(ICU_TIME), 10);
    EXPECT_EQ(GetTypeFlag(ICU_NONE), 0);
    EXPECT_EQ(GetTypeFlag(static_cast<ICU_Type>(28)), 0);
    for (int t = 1; t <= DataTypeCount; ++t) {  // every type has its own bit in a mask
        EXPECT_EQ(GetTypeFlag(static_cast<ICU_Type>(t)), 1 << (t - 1));
        EXPECT_EQ(IsBitType(static_cast<ICU_Type>(t)), t == 1 || t == 13);
    }
    EXPECT_EQ(GetItemCount(20, ICU_NONE), 1);
    EXPECT_EQ(GetItemCount(7, ICU_INT), 1);
    EXPECT_EQ(GetItemCount(24, ICU_OBJECT), 1);
    const TestTag array("0?short-3"), scalar("0?double");
    EXPECT_EQ(std::make_tuple(GetItemCount(&array), GetBasicType(&array), GetBasicLength(&array)),
              std::make_tuple(3, ICU_SHORT, 2));
    EXPECT_EQ(std::make_pair(GetBasicType(&scalar), GetBasicLength(&scalar)),
              std::make_pair(ICU_DOUBLE, 8));
}

TEST(DataTypes, ParsesDataTypeStrings) {
    // text, accepted, type, item type, length, conversions appended; failures write no type but
    // keep the conversion names already split off
    const std::tuple<const char*, bool, int, int, int, Strings> cases[] = {
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
        {"int()", true, 4, 0, 4, {""}},
        {"float ( inv , neg ) x", true, 8, 0, 4, {"inv", "neg"}},
        {"Int", false, -7, -7, -7, {}},
        {"int - 5", false, -7, -7, -7, {}},
        {"short(swap2", false, -7, -7, -7, {}},
        {"short)(swap2", false, -7, -7, -7, {}},
        {"nosuch(bcd)", false, -7, -7, -7, {"bcd"}}};
    for (const auto& [text, ok, type, item, length, conversions] : cases) {
        ICU_Type t = static_cast<ICU_Type>(-7), i = t;
        int n = -7;
        Strings out{"kept"};
        EXPECT_EQ(GetORBAType(text, t, i, n, out), ok) << text;
        EXPECT_EQ(std::make_tuple(int{t}, int{i}, n), std::make_tuple(type, item, length)) << text;
        EXPECT_EQ(Strings(out.begin() + 1, out.end()), conversions) << text;
    }
}

TEST(DataTypes, PrintsDataTypeStrings) {
    EXPECT_EQ(GetORBAName(ICU_INT_ARRAY, 20), "int-5");
    EXPECT_EQ(GetORBAName(ICU_STRING, 20), "string-20");
    EXPECT_EQ(GetORBAName(ICU_BOOLEAN_ARRAY, 16), "boolean-16");
    EXPECT_EQ(GetORBAName(ICU_INT, 99), "int");
    EXPECT_EQ(GetORBAName(ICU_OBJECT, 7), "object7");
    EXPECT_EQ(GetORBAName(ICU_NONE, 4), "??");
}

TEST(Bits, LengthsSpansCopiesAndShifts) {
    const int lengths[][3] = {{0, 1, 1}, {7, 2, 2}, {8, 8, 1}, {0, 0, 1}, {8, 0, 0}, {3, 16, 3}};
    for (const auto& c : lengths) {
        EXPECT_EQ(GetLenOfBits(c[0], c[1]), c[2]) << c[0] << "," << c[1];
    }
    const TestTag bits("2.5?boolean-7"), word("2.5?int");  // a bit index means nothing to an int
    EXPECT_EQ(std::make_pair(getStartingBit(&bits), getEndingBit(&bits)), std::make_pair(21, 28));
    EXPECT_EQ(std::make_pair(getStartingBit(&word), getEndingBit(&word)), std::make_pair(16, 48));

    const uint8_t src[3] = {0x85, 0xF1, 0x0F};
    uint8_t copy[2] = {0x0A, 0x50};
    CopyBits(copy, src, 12, 8);  // source bits 12..19 keep their places inside the byte
    CopyBits(copy, src, 0, 0);
    EXPECT_EQ(Bytes(copy, copy + 2), (Bytes{0xFA, 0x5F}));
    uint8_t one = 0x00;
    shiftBits(&one, 0, src, 7, 1);
    EXPECT_EQ(one, 0x01);
    uint8_t wide[2] = {0xFF, 0xFF};
    shiftBits(wide, 5, Bytes{0, 0}.data(), 0, 6);
    shiftBits(wide, 0, src, 0, -1);
    EXPECT_EQ(Bytes(wide, wide + 2), (Bytes{0x1F, 0xF8}));
}

TEST(Strings, TrimSplitConfigValueAndItoa) {
    for (const char* text : {" \t a b \t", "a b"}) {
        std::string s = text;
        Trim(s);
        EXPECT_EQ(s, "a b");
        EXPECT_EQ(GetTrim(text), "a b");
    }
    EXPECT_EQ(GetTrim(" \t "), "");
    EXPECT_EQ(GetTrim("\nx"), "\nx");
    const std::pair<const char*, Strings> splits[] = {
        {"a, b,,c", {"kept", "a", "b", "", "c"}}, {"", {"kept", ""}}, {",", {"kept", "", ""}}};
    for (const auto& [text, pieces] : splits) {
        Strings out{"kept"};
        ParseSubstrings(text, out, ',');
        EXPECT_EQ(out, pieces) << text;
    }
    // text, key, found, value
    const std::tuple<const char*, const char*, bool, const char*> lookups[] = {
        {"baud=9600;par=even", "par", true, "even"},
        {"baud=9600;par=even", "aud", true, "9600"},
        {"baud=9600", "stop", false, "untouched"},
        {"a= b", "a", true, ""},
        {"mode=rs-485", "mode", true, "rs"}};
    for (const auto& [text, key, found, expected] : lookups) {
        std::string value = "untouched";
        EXPECT_EQ(GetConfigValue(text, key, value), found) << text << " " << key;
        EXPECT_EQ(value, expected) << text << " " << key;
    }
    const std::tuple<int, int, const char*> numbers[] = {{0, 10, "0"},
                                                         {1234, 10, "1234"},
                                                         {0xABC, 16, "abc"},
                                                         {5, 2, "101"},
                                                         {INT32_MAX, 10, "2147483647"}};
    for (const auto& [value, base, text] : numbers) {
        char buffer[40];
        EXPECT_EQ(itoa(value, buffer, base), buffer);
        EXPECT_STREQ(buffer, text) << value << " base " << base;
    }
    EXPECT_EQ(GetVersion(), 200);
}

}  // namespace
