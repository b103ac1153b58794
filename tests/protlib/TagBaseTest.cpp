// Conversions between the raw image and the host value, in both directions.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "TestDriver.h"

namespace {

using Bytes = std::vector<uint8_t>;

template <typename T>
Bytes bytesOf(T value) {
    Bytes b(sizeof value);
    std::memcpy(b.data(), &value, sizeof value);
    return b;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

TestTag makeTag(const std::string& type, int bitIndex = 0) {
    TestTag tag("0." + std::to_string(bitIndex) + "?" + type);
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

}  // namespace

TEST(Conversions, WrittenImageAndReadBack) {
    struct Case {
        const char* type;
        Bytes host;
        Bytes raw;  // what the device sees
    };
    const Case cases[] = {
        {"unsignedShort", {0x34, 0x12}, {0x34, 0x12}},
        {"unsignedShort(swap2)", {0x34, 0x12}, {0x12, 0x34}},
        {"int(swap2)", {1, 2, 3, 4}, {2, 1, 4, 3}},
        {"int(swap4)", {1, 2, 3, 4}, {4, 3, 2, 1}},
        {"double(swap8)", {1, 2, 3, 4, 5, 6, 7, 8}, {8, 7, 6, 5, 4, 3, 2, 1}},
        {"unsignedShort-4(swap8)", {1, 2, 3, 4, 5, 6, 7, 8}, {8, 7, 6, 5, 4, 3, 2, 1}},
        {"unsignedByte(swapnibble)", {0x12}, {0x21}},
        {"unsignedByte(bcd)", {99}, {0x99}},
        {"unsignedShort(bcd)", bytesOf<uint16_t>(1234), {0x34, 0x12}},
        {"unsignedInt(bcd)", bytesOf<uint32_t>(123456), {0x56, 0x34, 0x12, 0x00}},
        {"unsignedShort-2(bcd)",
         concat({bytesOf<uint16_t>(9999), bytesOf<uint16_t>(7)}),
         {0x99, 0x99, 0x07, 0x00}},
        {"unsignedShort(inv)", {0xFF, 0x00}, {0x00, 0xFF}},
        {"uint64(inv)", Bytes(8, 0x0F), Bytes(8, 0xF0)},
        {"byte(neg)", {0x80}, {0x80}},
        {"short(neg)", bytesOf<int16_t>(5), bytesOf<int16_t>(-5)},
        {"int(neg)", bytesOf<int32_t>(-2147483647 - 1), bytesOf<int32_t>(-2147483647 - 1)},
        {"int64(neg)", bytesOf<int64_t>(40000000000), bytesOf<int64_t>(-40000000000)},
        {"float(neg)", bytesOf(1.5f), bytesOf(-1.5f)},
        {"double-2(neg)", concat({bytesOf(2.0), bytesOf(-0.25)}),
         concat({bytesOf(-2.0), bytesOf(0.25)})},
        {"short-3(neg)", concat({bytesOf<int16_t>(1), bytesOf<int16_t>(2), bytesOf<int16_t>(-3)}),
         concat({bytesOf<int16_t>(-1), bytesOf<int16_t>(-2), bytesOf<int16_t>(3)})},
        // Written as listed (swap, then negate); read back in reverse.
        {"short(swap2,neg)", {0x01, 0x00}, {0x00, 0xFF}},
        {"short(neg,swap2)", {0x01, 0x00}, {0xFF, 0xFF}},
        {"unsignedShort(bcd,swap2)", bytesOf<uint16_t>(1234), {0x12, 0x34}},
    };
    for (const Case& c : cases) {
        const TestTag tag = makeTag(c.type);
        ASSERT_EQ(tag.PackedLen(), static_cast<int>(c.raw.size())) << c.type;
        EXPECT_EQ(toDevice(tag, c.host, Bytes(c.raw.size(), 0xEE)), c.raw) << c.type;
        EXPECT_EQ(fromDevice(tag, c.raw), c.host) << c.type;
    }
}

TEST(Conversions, BitTagsAtTheirBitIndex) {
    const TestTag one = makeTag("boolean", 3);
    EXPECT_EQ(one.PackedLen(), 1);
    EXPECT_EQ(fromDevice(one, {0x08}), Bytes{1});
    EXPECT_EQ(fromDevice(one, {0xF7}), Bytes{0});

    const TestTag four = makeTag("boolean-4", 2);
    EXPECT_EQ(toDevice(four, {1, 0, 1, 1}, {0xFF}), Bytes{0xF7});
    EXPECT_EQ(toDevice(four, {1, 0, 1, 1}, {0x00}), Bytes{0x34});
    EXPECT_EQ(fromDevice(four, {0xF7}), (Bytes{1, 0, 1, 1}));

    // Seven bits from bit 5: across the byte border, the bits around them untouched.
    const TestTag across = makeTag("boolean-7", 5);
    EXPECT_EQ(across.PackedLen(), 2);
    const Bytes value{1, 1, 0, 1, 0, 0, 1};
    EXPECT_EQ(toDevice(across, value, {0x00, 0xF0}), (Bytes{0x60, 0xF9}));
    EXPECT_EQ(fromDevice(across, {0x60, 0xF9}), value);

    const TestTag inverted = makeTag("boolean-3(inv)", 7);
    EXPECT_EQ(toDevice(inverted, {1, 0, 0}, {0x00, 0x00}), (Bytes{0x00, 0x03}));
    EXPECT_EQ(fromDevice(inverted, {0x00, 0x03}), (Bytes{1, 0, 0}));
}

TEST(Conversions, FailuresNameTheConversionAndLeaveDstAlone) {
    struct Case {
        const char* type;
        bool write;
        Bytes input;
        const char* error;
    };
    const Case cases[] = {
        {"unsignedByte(swap2)", true, {1}, "Conversion error at: swap2"},
        {"short(swap4)", false, {1, 2}, "Conversion error at: swap4"},
        {"int(swap8)", true, {1, 2, 3, 4}, "Conversion error at: swap8"},
        {"unsignedShort(bcd)", false, {0x3A, 0x12}, "Conversion error at: bcd"},
        {"unsignedShort(bcd)", true, bytesOf<uint16_t>(10000), "Conversion error at: bcd"},
        {"unsignedByte(bcd)", true, {100}, "Conversion error at: bcd"},
        {"short(bcd)", true, bytesOf<int16_t>(-1), "Conversion error at: bcd"},
        {"double(bcd)", false, Bytes(8, 0), "Conversion error at: bcd"},
        {"unsignedShort(neg)", true, {1, 0}, "Conversion error at: neg"},
        {"short(inv)", false, {1, 0}, "Conversion error at: inv"},
        {"int(Swap2)", true, {1, 2, 3, 4}, "Conversion error at: Swap2"},
        {"int()", false, {1, 2, 3, 4}, "Conversion error at: "},
        // Earlier steps succeed on the work buffer; none of it reaches dst.
        {"short-2(swap2,neg,bogus)", true, {1, 2, 3, 4}, "Conversion error at: bogus"},
        {"unsignedShort-2(bcd)", false, {0x11, 0x11, 0xFF, 0x00}, "Conversion error at: bcd"},
        {"int(nope,swap2)", false, {1, 2, 3, 4}, "Conversion error at: nope"},
    };
    for (const Case& c : cases) {
        const TestTag tag = makeTag(c.type);
        const Bytes untouched(static_cast<size_t>(tag.GetVarLength()), 0xEE);
        Bytes dst = untouched;
        EXPECT_FALSE(tag.ConvertVariable(c.input.data(), dst.data(), c.write)) << c.type;
        EXPECT_EQ(tag.getErrorText(), c.error) << c.type;
        EXPECT_EQ(dst, untouched) << c.type;
    }
    // The failing step decides the text: reading runs the list backwards.
    const TestTag both = makeTag("int(first,second)");
    Bytes dst(4);
    const Bytes src{1, 2, 3, 4};
    EXPECT_FALSE(both.ConvertVariable(src.data(), dst.data(), true));
    EXPECT_EQ(both.getErrorText(), "Conversion error at: first");
    EXPECT_FALSE(both.ConvertVariable(src.data(), dst.data(), false));
    EXPECT_EQ(both.getErrorText(), "Conversion error at: second");
}

TEST(Conversions, ValuesAboveTheLocalBufferUseTheHeap) {
    const TestTag big = makeTag("unsignedShort-200(swap2,swapnibble)");
    ASSERT_EQ(big.PackedLen(), 400);
    Bytes host(400);
    for (size_t i = 0; i < host.size(); ++i) {
        host[i] = static_cast<uint8_t>(i * 7);
    }
    const Bytes raw = toDevice(big, host, Bytes(400, 0));
    for (size_t i = 0; i < host.size(); i += 2) {
        EXPECT_EQ(raw[i], static_cast<uint8_t>((host[i + 1] << 4) | (host[i + 1] >> 4))) << i;
    }
    EXPECT_EQ(fromDevice(big, raw), host);

    const TestTag bits = makeTag("boolean-2100", 3);  // 2100 host bytes over 263 raw bytes
    ASSERT_EQ(bits.PackedLen(), 263);
    Bytes flags(2100);
    for (size_t i = 0; i < flags.size(); ++i) {
        flags[i] = (i % 3 == 0) ? 1 : 0;
    }
    EXPECT_EQ(fromDevice(bits, toDevice(bits, flags, Bytes(263, 0))), flags);

    // 0x0101 negates to 0xFEFF, which is no four-digit number.
    const TestTag failing = makeTag("short-300(neg,bcd)");
    Bytes dst(600, 0xEE);
    const Bytes src(600, 0x01);
    EXPECT_FALSE(failing.ConvertVariable(src.data(), dst.data(), true));
    EXPECT_EQ(dst, Bytes(600, 0xEE));
}

TEST(Conversions, DirectConversionCases) {
    // DoConversion works in place on a host-layout value.
    const TestTag flag = makeTag("boolean");
    uint8_t b = 1;
    EXPECT_TRUE(flag.DoConversion(&b, "inv", false));
    EXPECT_EQ(b, 0);
    EXPECT_TRUE(flag.DoConversion(&b, "inv", true));
    EXPECT_EQ(b, 1);
    EXPECT_FALSE(flag.DoConversion(&b, nullptr, true));
    // An empty array changes nothing and swaps fine.
    const TestTag empty = makeTag("int-");
    EXPECT_TRUE(empty.DoConversion(&b, "swap8", true));
    EXPECT_TRUE(empty.DoConversion(&b, "bcd", false));
    EXPECT_EQ(b, 1);
    // No element at all: even elements too wide for packed decimal leave nothing to fail on.
    const TestTag noDoubles = makeTag("double-");
    EXPECT_TRUE(noDoubles.DoConversion(&b, "bcd", true));
    EXPECT_TRUE(noDoubles.DoConversion(&b, "bcd", false));
    EXPECT_EQ(b, 1);
    // A failed element keeps those converted before it.
    const TestTag pair = makeTag("unsignedByte-2");
    uint8_t data[2] = {0x42, 0x4F};
    EXPECT_FALSE(pair.DoConversion(data, "bcd", false));
    EXPECT_EQ(data[0], 42);
    // A tag copy keeps the conversions.
    const TestTag original = makeTag("short(swap2)");
    const std::unique_ptr<ITag> copy(original.Clone());
    EXPECT_EQ(toDevice(*static_cast<const TestTag*>(copy.get()), {1, 2}, {0, 0}), (Bytes{2, 1}));
}
