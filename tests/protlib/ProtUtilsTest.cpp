// Data types, bit streams and string helpers (bit unpacking and packing: see the conversion tests).

#include <gtest/gtest.h>

#include <tuple>

#include "TestDriver.h"

namespace {

using namespace ProtUtilsN;
using Strings = std::vector<std::string>;

TEST(DataTypes, ParsesAndPrintsDataTypeStringsAndCountsItems) {
    // text, accepted, type, item type, length, conversions appended; failures write no type but
    // keep the conversion names already split off
    // clang-format off
    const std::tuple<const char*, bool, int, int, int, Strings> cases[] = {
        {"  int  ", true, 4, 0, 4, {}},         {"string-20", true, 10, 2, 20, {}},
        {"int-5", true, 16, 4, 20, {}},         {"boolean-16", true, 13, 1, 16, {}},
        {"object", true, 27, 0, 0, {}},         {"int-", true, 16, 4, 0, {}},
        {"int()", true, 4, 0, 4, {""}}, {"float ( inv , neg ) x", true, 8, 0, 4, {"inv", "neg"}},
        {"Int", false, -7, -7, -7, {}},         {"int - 5", false, -7, -7, -7, {}},
        {"short(swap2", false, -7, -7, -7, {}}, {"nosuch(bcd)", false, -7, -7, -7, {"bcd"}}};
    // clang-format on
    for (const auto& [text, ok, type, item, length, conversions] : cases) {
        ICU_Type t = static_cast<ICU_Type>(-7), i = t;
        int n = -7;
        Strings out{"kept"};
        EXPECT_EQ(GetORBAType(text, t, i, n, out), ok) << text;
        EXPECT_EQ(std::make_tuple(int{t}, int{i}, n), std::make_tuple(type, item, length)) << text;
        EXPECT_EQ(Strings(out.begin() + 1, out.end()), conversions) << text;
    }
    EXPECT_EQ(GetORBAName(ICU_INT_ARRAY, 20), "int-5");
    EXPECT_EQ(GetORBAName(ICU_STRING, 20), "string-20");
    EXPECT_EQ(GetORBAName(ICU_BOOLEAN_ARRAY, 16), "boolean-16");
    EXPECT_EQ(GetORBAName(ICU_OBJECT, 7), "object7");
    EXPECT_EQ(GetORBAName(ICU_NONE, 4), "??");
    for (int t = 0; t <= DataTypeCount + 1; ++t) {
        EXPECT_EQ(IsBitType(static_cast<ICU_Type>(t)), t == 1 || t == 13) << t;
    }
    const TestTag array("0?short-3");
    EXPECT_EQ(std::make_tuple(GetItemCount(&array), GetBasicType(&array), GetBasicLength(&array)),
              std::make_tuple(3, ICU_SHORT, 2));
}

TEST(Bits, LengthsCopiesAndShifts) {
    const int lengths[][3] = {{0, 1, 1}, {7, 2, 2}, {8, 8, 1}, {0, 0, 1}, {8, 0, 0}, {3, 16, 3}};
    for (const auto& c : lengths) {
        EXPECT_EQ(GetLenOfBits(c[0], c[1]), c[2]) << c[0] << "," << c[1];
    }
    const uint8_t src[3] = {0x85, 0xF1, 0x0F};
    uint8_t copy[2] = {0x0A, 0x50};
    CopyBits(copy, src, 12, 8);  // source bits 12..19 keep their places inside the byte
    CopyBits(copy, src, 0, 0);
    EXPECT_EQ(Bytes(copy, copy + 2), (Bytes{0xFA, 0x5F}));
    uint8_t wide[2] = {0xFF, 0xFF};
    shiftBits(wide, 5, Bytes{0, 0}.data(), 0, 6);
    shiftBits(wide, 0, src, 0, -1);
    EXPECT_EQ(Bytes(wide, wide + 2), (Bytes{0x1F, 0xF8}));
}

TEST(Strings, TrimSplitConfigValueAndItoa) {
    std::string s = " \t a b \t";
    Trim(s);
    EXPECT_EQ(std::make_tuple(s, GetTrim(" \t "), GetTrim("\nx")),
              std::make_tuple("a b", "", "\nx"));
    Strings out{"kept"};
    ParseSubstrings("a, b,,c", out, ',');
    EXPECT_EQ(out, (Strings{"kept", "a", "b", "", "c"}));
    // text, key, found, value
    for (const auto& [text, key, found, expected] :
         {std::tuple{"baud=9600;par=even", "aud", true, "9600"},
          {"baud=9600", "stop", false, "untouched"},
          {"mode=rs-485", "mode", true, "rs"}}) {
        std::string value = "untouched";
        EXPECT_EQ(GetConfigValue(text, key, value), found) << text << " " << key;
        EXPECT_EQ(value, expected) << text << " " << key;
    }
    char buffer[40];
    for (const auto& [value, base, text] :
         {std::tuple{0xABC, 16, "abc"}, {5, 2, "101"}, {INT32_MAX, 10, "2147483647"}}) {
        EXPECT_EQ(itoa(value, buffer, base), buffer);
        EXPECT_STREQ(buffer, text) << value << " base " << base;
    }
}

}  // namespace
