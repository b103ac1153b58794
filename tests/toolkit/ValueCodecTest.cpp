#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include <qarn/protlib/ProtUtilsN.h>
#include <qarn/toolkit/ValueCodec.h>

using Bytes = std::vector<uint8_t>;

namespace {

template <typename T>
Bytes bytesOf(std::initializer_list<T> values) {
    Bytes out(values.size() * sizeof(T));
    std::memcpy(out.data(), values.begin(), out.size());
    return out;
}

// The type as a tag of this data type reports it through ITag.
qarn::ValueType typeOf(const std::string& name) {
    qarn::ValueType t{ICU_NONE, 0, ICU_NONE};
    std::vector<std::string> conversions;
    EXPECT_TRUE(ProtUtilsN::GetORBAType(name, t.type, t.itemType, t.length, conversions)) << name;
    return t;
}

qarn::DecodedValue decode(const std::string& type, const Bytes& value) {
    return qarn::decodeValue(typeOf(type), value.data(), value.size());
}

}  // namespace

TEST(ValueCodec, EveryTypeIsParsedPrintedAndReadBack) {
    const uint64_t U64 = UINT64_MAX;
    const struct {
        const char* type;
        std::string typed;  // as a user types it
        Bytes bytes;        // the host value
        std::string printed;
    } cases[] = {
        {"boolean", " TRUE ", {1}, "1"},
        {"byte", "-128", {0x80}, "-128"},
        {"short", "0xFFFE", bytesOf<int16_t>({-2}), "-2"},  // hex is the bit pattern
        {"int", "-2147483648", bytesOf<int32_t>({INT32_MIN}), "-2147483648"},
        {"unsignedByte", "255", {0xFF}, "255"},
        {"unsignedShort", "+0x1234", bytesOf<uint16_t>({0x1234}), "4660"},
        {"unsignedInt", "4294967295", bytesOf<uint32_t>({UINT32_MAX}), "4294967295"},
        {"float", "-2.5e3", bytesOf<float>({-2500.0F}), "-2500"},
        {"double", "+0.1", bytesOf<double>({0.1}), "0.1"},
        {"string-6", "abc", {'a', 'b', 'c', 0, 0, 0}, "abc"},
        {"binary-3", "0x0A:0b:0c", {0x0A, 0x0B, 0x0C}, "0a0b0c"},
        {"time", "11111111111111111111", Bytes(10, 0x11), "11111111111111111111"},
        {"boolean-4", "1,0,true,false", {1, 0, 1, 0}, "1,0,1,0"},
        {"byte-2", "-1,0x7f", {0xFF, 0x7F}, "-1,127"},
        {"short-3", "1, -1, 0x8000", bytesOf<int16_t>({1, -1, -32768}), "1,-1,-32768"},
        {"int-2", "-0x10,7", bytesOf<int32_t>({-16, 7}), "-16,7"},
        {"unsignedByte-2", "0,255", {0, 255}, "0,255"},
        {"unsignedShort-2", "-0,65535", bytesOf<uint16_t>({0, 65535}), "0,65535"},
        {"unsignedInt-2", "1,0xFFFFFFFF", bytesOf<uint32_t>({1, UINT32_MAX}), "1,4294967295"},
        {"float-2", "1,-0.5", bytesOf<float>({1.0F, -0.5F}), "1,-0.5"},
        {"double-2", "2.718281828459045,-1e300", bytesOf<double>({2.718281828459045, -1e300}),
         "2.718281828459045,-1e+300"},
        {"time-2", std::string(40, 'a'), Bytes(20, 0xAA), std::string(40, 'a')},
        {"uint64", "18446744073709551615", bytesOf<uint64_t>({U64}), "18446744073709551615"},
        {"int64", "-9223372036854775808", bytesOf<int64_t>({INT64_MIN}), "-9223372036854775808"},
        {"uint64-2", "0,18446744073709551615", bytesOf<uint64_t>({0, U64}),
         "0,18446744073709551615"},
        {"int64-2", "-1,1", bytesOf<int64_t>({-1, 1}), "-1,1"},
    };
    for (const auto& c : cases) {
        const qarn::ValueType type = typeOf(c.type);
        EXPECT_EQ(qarn::typeName(type), c.type);
        Bytes bytes;
        std::string error;
        EXPECT_TRUE(qarn::encodeValue(type, c.typed, bytes, error)) << c.type << ": " << error;
        EXPECT_EQ(bytes, c.bytes) << c.type;
        const std::string printed = qarn::toText(decode(c.type, c.bytes), false);
        EXPECT_EQ(printed, c.printed) << c.type;
        EXPECT_TRUE(qarn::encodeValue(type, printed, bytes, error)) << c.type << ": " << error;
        EXPECT_EQ(bytes, c.bytes) << c.type << ": what is printed reads back";
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
        {"byte", "0x100", "0x100 does not fit byte (-128 to 127)"},
        {"int64", "9223372036854775808",
         "9223372036854775808 does not fit int64 (-9223372036854775808 to 9223372036854775807)"},
        {"uint64", "18446744073709551616",
         "18446744073709551616 does not fit uint64 (0 to 18446744073709551615)"},
        {"int", "12a", "'12a' is not an integer"},
        {"boolean", "2", "'2' is not a boolean (0, 1, true or false)"},
        {"float", "1e39", "1e39 does not fit float"},
        {"double", "1.5x", "'1.5x' is not a number"},
        {"string-6", "abcdefg", "text of 7 bytes does not fit string-6"},
        {"binary-3", "0a0b", "binary-3 takes 6 hex digits, got 4"},
        {"short-3", "1,2", "short-3 takes 3 values, got 2"},
        {"unsignedByte-2", "1,256", "element 2: 256 does not fit unsignedByte (0 to 255)"},
    };
    for (const auto& c : cases) {
        Bytes out;
        std::string error;
        EXPECT_FALSE(qarn::encodeValue(typeOf(c.type), c.text, out, error)) << c.text;
        EXPECT_EQ(error, c.error) << c.type << " " << c.text;
    }
}

TEST(ValueCodec, PrintedFormsAsPeopleReadThem) {
    const struct {
        const char* type;
        Bytes bytes;
        const char* plain;
        const char* hex;
    } cases[] = {
        {"boolean", {0x20}, "1", "1"},  // any nonzero byte is a set bit
        {"byte", {0xFF}, "-1", "-1 (0xFF)"},
        {"int64", bytesOf<int64_t>({-1}), "-1", "-1 (0xFFFFFFFFFFFFFFFF)"},
        {"short-3", bytesOf<int16_t>({1, -1, 300}), "1,-1,300", "1,-1,300 (0x0001,0xFFFF,0x012C)"},
        {"float", bytesOf<float>({0.1F}), "0.1", "0.1"},  // the float's shortest form
        {"double", bytesOf<double>({1.0 / 3}), "0.3333333333333333", "0.3333333333333333"},
        {"double", bytesOf<double>({NAN}), "nan", "nan"},
        {"string-6", {'a', 'b', 0, 'z', 'z', 'z'}, "ab", "ab"},
        {"string-6", {'a', '\n', 'b', 'c', 'd', 'e'}, "a\\x0Abcde", "a\\x0Abcde"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(qarn::toText(decode(c.type, c.bytes), false), c.plain) << c.type;
        EXPECT_EQ(qarn::toText(decode(c.type, c.bytes), true), c.hex) << c.type;
    }
}
