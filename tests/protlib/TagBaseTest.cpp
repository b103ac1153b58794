// Conversions between the raw image and the host value, in both directions. Values are written
// as bytes in memory order (host values little-endian).

#include <gtest/gtest.h>

#include <numeric>
#include <tuple>

#include "TestDriver.h"

namespace {

// `type` may start with the bit index: "2?boolean-4".
TestTag makeTag(const std::string& type) {
    TestTag tag(type.find('?') != std::string::npos ? "0." + type : "0?" + type);
    EXPECT_TRUE(tag.valid) << type;
    return tag;
}
Bytes toDevice(const TestTag& tag, const Bytes& host, Bytes raw) {
    EXPECT_TRUE(tag.ConvertVariable(host.data(), raw.data(), true)) << tag.getErrorText();
    return raw;
}
Bytes fromDevice(const TestTag& tag, const Bytes& raw) {
    Bytes host(static_cast<size_t>(tag.GetVarLength()), 0xEE);
    EXPECT_TRUE(tag.ConvertVariable(raw.data(), host.data(), false)) << tag.getErrorText();
    return host;
}

TEST(Conversion, RoundTripsWriteThenReadGivesTheHostValueBack) {
    // Type, host value, device image. bcd: 123456, then 9999 and 12; neg: 1, 2, -3, the most
    // negative int (it wraps), 1.5, 2.0 and -0.25. Written as listed, read back in reverse. Bit
    // tags (bit index first) change only their own bits of an image filled with EE.
    // clang-format off
    const char* const cases[][3] = {
        {"unsignedShort(swap2)", "3412", "1234"}, {"int(swap2)", "01020304", "02010403"},
        {"int(swap4)", "01020304", "04030201"},   {"unsignedByte(swapnibble)", "12", "21"},
        {"double(swap8)", "0102030405060708", "0807060504030201"},
        {"unsignedInt(bcd)", "40e20100", "56341200"},       {"float(neg)", "0000c03f", "0000c0bf"},
        {"unsignedShort-2(bcd)", "0f27 0c00", "9999 1200"}, {"int(neg)", "00000080", "00000080"},
        {"uint64(inv)", "0f0f0f0f0f0f0f0f", "f0f0f0f0f0f0f0f0"},
        {"short-3(neg)", "0100 0200 fdff", "ffff feff 0300"}, {"short(swap2,neg)", "0200", "00fe"},
        {"double-2(neg)", "0000000000000040 000000000000d0bf", "00000000000000c0 000000000000d03f"},
        {"short(neg,swap2)", "0200", "fffe"},
        {"2?boolean-4", "01000101", "f6"}, {"5?boolean-7", "01010001000001", "6e e9"},
        {"7?boolean-3(inv)", "010000", "6e ef"}};
    // clang-format on
    for (const auto& [type, host, raw] : cases) {
        const TestTag tag = makeTag(type);
        EXPECT_EQ(toDevice(tag, hexBytes(host), Bytes(hexBytes(raw).size(), 0xEE)), hexBytes(raw))
            << type;
        EXPECT_EQ(fromDevice(tag, hexBytes(raw)), hexBytes(host)) << type;
    }
    EXPECT_EQ(toDevice(makeTag("2?boolean-4"), {7, 0, 1, 1}, {0}), Bytes{0x34});  // non-zero: set
}

TEST(Conversion, FailuresNameTheConversionAndLeaveNoPartialData) {
    // Type, writing, input, failing conversion. In the last four, earlier steps succeed on the work
    // buffer and none of it reaches the destination, and reading runs the list backwards.
    // clang-format off
    const std::tuple<const char*, bool, const char*, const char*> cases[] = {
        {"unsignedByte(swap2)", true, "01", "swap2"}, {"int(swap8)", false, "01020304", "swap8"},
        {"unsignedShort(bcd)", false, "3a12", "bcd"}, {"unsignedShort(bcd)", true, "1027", "bcd"},
        {"short(bcd)", true, "ffff", "bcd"}, {"double(bcd)", false, "0000000000000000", "bcd"},
        {"unsignedShort(neg)", true, "0100", "neg"}, {"short(inv)", false, "0100", "inv"},
        {"int(Swap2)", true, "01020304", "Swap2"},
        {"short-2(swap2,neg,bogus)", true, "01020304", "bogus"},
        {"unsignedShort-2(bcd)", false, "1111 ff00", "bcd"},
        {"int(first,second)", true, "01020304", "first"},
        {"int(first,second)", false, "01020304", "second"}};
    // clang-format on
    for (const auto& [type, write, input, name] : cases) {
        const TestTag tag = makeTag(type);
        const Bytes untouched(hexBytes(input).size(), 0xEE);
        Bytes dst = untouched;
        EXPECT_FALSE(tag.ConvertVariable(hexBytes(input).data(), dst.data(), write)) << type;
        EXPECT_EQ(tag.getErrorText(), std::string("Conversion error at: ") + name) << type;
        EXPECT_EQ(dst, untouched) << type;
    }
    uint8_t data[2] = {0x42, 0x4F};  // in place, a failed element keeps those converted before it
    EXPECT_FALSE(makeTag("unsignedByte-2").DoConversion(data, "bcd", false));
    EXPECT_EQ(data[0], 42);
    EXPECT_TRUE(makeTag("int-").DoConversion(data, "swap8", true));  // no element: nothing fails
}

TEST(Conversion, HeapPathAbove256Bytes) {
    const TestTag big = makeTag("unsignedShort-200(swap2,swapnibble)");
    Bytes host(400);
    std::iota(host.begin(), host.end(), 0);
    const Bytes raw = toDevice(big, host, Bytes(400, 0));
    EXPECT_EQ(Bytes(raw.end() - 2, raw.end()), hexBytes("f8e8"));
    EXPECT_EQ(fromDevice(big, raw), host);
    const TestTag bits = makeTag("3?boolean-2100");  // 2100 host bytes over 263 raw bytes
    ASSERT_EQ(bits.PackedLen(), 263);
    Bytes flags(2100);
    for (size_t i = 0; i < flags.size(); i += 3) {
        flags[i] = 1;
    }
    EXPECT_EQ(fromDevice(bits, toDevice(bits, flags, Bytes(263, 0))), flags);
    const TestTag failing = makeTag("short-300(neg,bcd)");  // 0x0101 negated has no digits
    Bytes dst(600, 0xEE);
    EXPECT_FALSE(failing.ConvertVariable(Bytes(600, 0x01).data(), dst.data(), true));
    EXPECT_EQ(dst, Bytes(600, 0xEE));
}

}  // namespace
