#include "ValueCodec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

using qarn::DecodedValue;
using qarn::ValueType;

namespace {

using Bytes = std::vector<uint8_t>;

template <typename T>
Bytes bytesOf(std::initializer_list<T> values) {
    Bytes out(values.size() * sizeof(T));
    size_t i = 0;
    for (const T v : values) {
        std::memcpy(out.data() + i, &v, sizeof v);
        i += sizeof v;
    }
    return out;
}

// What a tag of this data-type string reports through ITag.
const struct {
    const char* name;
    ValueType type;
} Types[] = {
    {"boolean", {ICU_BOOLEAN, 1, ICU_NONE}},
    {"byte", {ICU_BYTE, 1, ICU_NONE}},
    {"short", {ICU_SHORT, 2, ICU_NONE}},
    {"int", {ICU_INT, 4, ICU_NONE}},
    {"unsignedByte", {ICU_UNSIGNED_BYTE, 1, ICU_NONE}},
    {"unsignedShort", {ICU_UNSIGNED_SHORT, 2, ICU_NONE}},
    {"unsignedInt", {ICU_UNSIGNED_INT, 4, ICU_NONE}},
    {"float", {ICU_FLOAT, 4, ICU_NONE}},
    {"double", {ICU_DOUBLE, 8, ICU_NONE}},
    {"string-6", {ICU_STRING, 6, ICU_BYTE}},
    {"binary-3", {ICU_BINARY, 3, ICU_UNSIGNED_BYTE}},
    {"time", {ICU_TIME, 10, ICU_NONE}},
    {"boolean-4", {ICU_BOOLEAN_ARRAY, 4, ICU_BOOLEAN}},
    {"byte-2", {ICU_BYTE_ARRAY, 2, ICU_BYTE}},
    {"short-3", {ICU_SHORT_ARRAY, 6, ICU_SHORT}},
    {"int-2", {ICU_INT_ARRAY, 8, ICU_INT}},
    {"unsignedByte-2", {ICU_UNSIGNED_BYTE_ARRAY, 2, ICU_UNSIGNED_BYTE}},
    {"unsignedShort-2", {ICU_UNSIGNED_SHORT_ARRAY, 4, ICU_UNSIGNED_SHORT}},
    {"unsignedInt-2", {ICU_UNSIGNED_INT_ARRAY, 8, ICU_UNSIGNED_INT}},
    {"float-2", {ICU_FLOAT_ARRAY, 8, ICU_FLOAT}},
    {"double-2", {ICU_DOUBLE_ARRAY, 16, ICU_DOUBLE}},
    {"time-2", {ICU_TIME_ARRAY, 20, ICU_TIME}},
    {"uint64", {ICU_UINT64, 8, ICU_NONE}},
    {"int64", {ICU_INT64, 8, ICU_NONE}},
    {"uint64-2", {ICU_UINT64_ARRAY, 16, ICU_UINT64}},
    {"int64-2", {ICU_INT64_ARRAY, 16, ICU_INT64}},
};

ValueType typeOf(const std::string& name) {
    for (const auto& t : Types) {
        if (name == t.name) {
            return t.type;
        }
    }
    ADD_FAILURE() << "no type " << name;
    return {ICU_NONE, 0, ICU_NONE};
}

Bytes encode(const std::string& type, const std::string& text) {
    Bytes out;
    std::string error;
    EXPECT_TRUE(qarn::encodeValue(typeOf(type), text, out, error))
        << type << " " << text << ": " << error;
    return out;
}

std::string text(const std::string& type, const Bytes& value, bool hex = false) {
    return qarn::toText(qarn::decodeValue(typeOf(type), value.data(), value.size()), hex);
}

}  // namespace

TEST(ValueCodec, EveryTypeNamesItselfAsInATagAddress) {
    for (const auto& t : Types) {
        EXPECT_EQ(qarn::typeName(t.type), t.name);
    }
}

TEST(ValueCodec, ValuesBecomeHostBytes) {
    const struct {
        const char* type;
        const char* text;
        Bytes bytes;
    } cases[] = {
        {"boolean", "true", {1}},
        {"boolean", "0", {0}},
        {"boolean", " FALSE ", {0}},
        {"byte", "-128", {0x80}},
        {"byte", "0x7f", {0x7F}},
        {"short", "-2", bytesOf<int16_t>({-2})},
        {"short", "0xFFFE", bytesOf<int16_t>({-2})},  // hex is the bit pattern
        {"short", "-0x10", bytesOf<int16_t>({-16})},
        {"int", "-2147483648", bytesOf<int32_t>({INT32_MIN})},
        {"unsignedByte", "255", {0xFF}},
        {"unsignedShort", "4660", bytesOf<uint16_t>({0x1234})},
        {"unsignedShort", "0x1234", bytesOf<uint16_t>({0x1234})},
        {"unsignedShort", "+7", bytesOf<uint16_t>({7})},
        {"unsignedShort", "-0", bytesOf<uint16_t>({0})},
        {"unsignedInt", "4294967295", bytesOf<uint32_t>({UINT32_MAX})},
        {"uint64", "18446744073709551615", bytesOf<uint64_t>({UINT64_MAX})},
        {"int64", "-9223372036854775808", bytesOf<int64_t>({INT64_MIN})},
        {"float", "1.5", bytesOf<float>({1.5F})},
        {"float", "-2.5e3", bytesOf<float>({-2500.0F})},
        {"double", "+0.1", bytesOf<double>({0.1})},
        {"string-6", "abc", {'a', 'b', 'c', 0, 0, 0}},
        {"string-6", "abcdef", {'a', 'b', 'c', 'd', 'e', 'f'}},
        {"binary-3", "0A0b0C", {0x0A, 0x0B, 0x0C}},
        {"binary-3", "0x0a:0b:0c", {0x0A, 0x0B, 0x0C}},
        {"boolean-4", "1,0,true,false", {1, 0, 1, 0}},
        {"short-3", "1, -1, 0x8000", bytesOf<int16_t>({1, -1, INT16_MIN})},
        {"unsignedShort-2", "1,65535", bytesOf<uint16_t>({1, 65535})},
        {"float-2", "1,-0.5", bytesOf<float>({1.0F, -0.5F})},
        {"int64-2", "-1,1", bytesOf<int64_t>({-1, 1})},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(encode(c.type, c.text), c.bytes) << c.type << " " << c.text;
    }
}

TEST(ValueCodec, ValuesThatDoNotFitAreRefusedWithTheReason) {
    const struct {
        const char* type;
        const char* text;
        const char* error;
    } cases[] = {
        {"unsignedShort", "65536", "65536 does not fit unsignedShort (0 to 65535)"},
        {"unsignedShort", "-1", "-1 does not fit unsignedShort (0 to 65535)"},
        {"unsignedShort", "0x10000", "0x10000 does not fit unsignedShort (0 to 65535)"},
        {"short", "32768", "32768 does not fit short (-32768 to 32767)"},
        {"short", "-32769", "-32769 does not fit short (-32768 to 32767)"},
        {"byte", "0x100", "0x100 does not fit byte (-128 to 127)"},
        {"int64", "9223372036854775808",
         "9223372036854775808 does not fit int64 (-9223372036854775808 to 9223372036854775807)"},
        {"uint64", "18446744073709551616",
         "18446744073709551616 does not fit uint64 (0 to 18446744073709551615)"},
        {"int", "12a", "'12a' is not an integer"},
        {"int", "", "'' is not an integer"},
        {"int", "0x", "'0x' is not an integer"},
        {"int", "1.5", "'1.5' is not an integer"},
        {"boolean", "2", "'2' is not a boolean (0, 1, true or false)"},
        {"float", "1e39", "1e39 does not fit float"},
        {"float", "one", "'one' is not a number"},
        {"double", "1e400", "1e400 does not fit double"},
        {"double", "1.5x", "'1.5x' is not a number"},
        {"string-6", "abcdefg", "text of 7 bytes does not fit string-6"},
        {"binary-3", "0a0b", "binary-3 takes 6 hex digits, got 4"},
        {"binary-3", "0a0b0g", "'0a0b0g' is not hex (binary-3 takes 6 hex digits)"},
        {"short-3", "1,2", "short-3 takes 3 values, got 2"},
        {"short-3", "1,2,3,4", "short-3 takes 3 values, got 4"},
        {"short-3", "1,,3", "element 2: '' is not an integer"},
        {"boolean-4", "1,0,1,x", "element 4: 'x' is not a boolean (0, 1, true or false)"},
        {"unsignedByte-2", "1,256", "element 2: 256 does not fit unsignedByte (0 to 255)"},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> out;
        std::string error;
        EXPECT_FALSE(qarn::encodeValue(typeOf(c.type), c.text, out, error))
            << c.type << " " << c.text;
        EXPECT_EQ(error, c.error) << c.type << " " << c.text;
    }
}

TEST(ValueCodec, HostBytesPrintAsPeopleReadThem) {
    const struct {
        const char* type;
        Bytes bytes;
        const char* plain;
        const char* hex;
    } cases[] = {
        {"boolean", {1}, "1", "1"},
        {"boolean", {0x20}, "1", "1"},  // any nonzero byte is a set bit
        {"byte", {0xFF}, "-1", "-1 (0xFF)"},
        {"short", bytesOf<int16_t>({-2}), "-2", "-2 (0xFFFE)"},
        {"int", bytesOf<int32_t>({305419896}), "305419896", "305419896 (0x12345678)"},
        {"unsignedShort", bytesOf<uint16_t>({0x1234}), "4660", "4660 (0x1234)"},
        {"unsignedInt", bytesOf<uint32_t>({7}), "7", "7 (0x00000007)"},
        {"int64", bytesOf<int64_t>({-1}), "-1", "-1 (0xFFFFFFFFFFFFFFFF)"},
        {"float", bytesOf<float>({0.1F}), "0.1", "0.1"},  // shortest form of the float
        {"float", bytesOf<float>({-2500.0F}), "-2500", "-2500"},
        {"double", bytesOf<double>({1.0 / 3}), "0.3333333333333333", "0.3333333333333333"},
        {"double", bytesOf<double>({NAN}), "nan", "nan"},
        {"string-6", {'a', 'b', 0, 'z', 'z', 'z'}, "ab", "ab"},
        {"string-6", {'a', '\n', 'b', 'c', 'd', 'e'}, "a\\x0Abcde", "a\\x0Abcde"},
        {"binary-3", {0x0A, 0xFF, 0x00}, "0aff00", "0aff00"},
        {"time", Bytes(10, 0x11), "11111111111111111111", "11111111111111111111"},
        {"boolean-4", {1, 0, 0, 1}, "1,0,0,1", "1,0,0,1"},
        {"short-3", bytesOf<int16_t>({1, -1, 300}), "1,-1,300", "1,-1,300 (0x0001,0xFFFF,0x012C)"},
        {"float-2", bytesOf<float>({1.0F, -0.5F}), "1,-0.5", "1,-0.5"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text(c.type, c.bytes), c.plain) << c.type;
        EXPECT_EQ(text(c.type, c.bytes, true), c.hex) << c.type;
    }
}

TEST(ValueCodec, WhatIsPrintedReadsBackToTheSameBytes) {
    const struct {
        const char* type;
        Bytes bytes;
    } cases[] = {
        {"short-3", bytesOf<int16_t>({-32768, 0, 32767})},
        {"int-2", bytesOf<int32_t>({INT32_MIN, INT32_MAX})},
        {"unsignedInt-2", bytesOf<uint32_t>({0, UINT32_MAX})},
        {"float-2", bytesOf<float>({3.14159274F, -1e-30F})},
        {"double-2", bytesOf<double>({2.718281828459045, -1e300})},
        {"uint64-2", bytesOf<uint64_t>({UINT64_MAX, 1})},
        {"boolean-4", {0, 1, 1, 0}},
        {"binary-3", {0xDE, 0xAD, 0x00}},
        {"string-6", {'h', 'e', 'l', 'l', 'o', 0}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(encode(c.type, text(c.type, c.bytes)), c.bytes) << c.type;
    }
}

TEST(ValueCodec, JsonKeepsNumbersNumbersAndShowsHexOnlyForIntegers) {
    const auto json = [](const std::string& type, const Bytes& b) {
        return qarn::toJson(qarn::decodeValue(typeOf(type), b.data(), b.size()));
    };
    const auto hex = [](const std::string& type, const Bytes& b) {
        return qarn::hexJson(qarn::decodeValue(typeOf(type), b.data(), b.size()));
    };
    EXPECT_EQ(json("short", bytesOf<int16_t>({-2})).dump(), "-2");
    EXPECT_EQ(hex("short", bytesOf<int16_t>({-2})).dump(), "\"0xFFFE\"");
    EXPECT_EQ(json("uint64", bytesOf<uint64_t>({UINT64_MAX})).dump(), "18446744073709551615");
    EXPECT_EQ(json("boolean-4", {1, 0, 0, 1}).dump(), "[true,false,false,true]");
    EXPECT_EQ(json("boolean", {1}).dump(), "true");
    EXPECT_EQ(json("float-2", bytesOf<float>({1.5F, INFINITY})).dump(), "[1.5,null]");
    EXPECT_EQ(hex("float-2", bytesOf<float>({1.5F, 2.0F})).dump(), "null");
    EXPECT_EQ(json("string-6", {'a', 'b', 0, 0, 0, 0}).dump(), "\"ab\"");
    EXPECT_EQ(json("binary-3", {1, 2, 3}).dump(), "\"010203\"");
    EXPECT_EQ(hex("unsignedShort-2", bytesOf<uint16_t>({1, 2})).dump(), "[\"0x0001\",\"0x0002\"]");
}
