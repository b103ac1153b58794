// The table CRC against the published example frame and against the CRC computed bit by bit.

#include <gtest/gtest.h>

#include <random>

#include <qarn/rtu/Crc.h>
#include "TestBytes.h"

namespace {

uint16_t bitwiseCrc(const Bytes& data) {
    uint16_t crc = 0xFFFF;
    for (uint8_t byte : data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<uint16_t>((crc & 1U) != 0 ? (crc >> 1) ^ 0xA001U : crc >> 1);
        }
    }
    return crc;
}

TEST(RtuFrame, CrcMatchesTheReferenceFrameAndCatchesEveryFlippedBit) {
    Bytes f = hexBytes("01 03 00 00 00 0A 00 00");
    EXPECT_EQ(rtu::crc16(f.data(), 6), 0xCDC5);
    rtu::putCrc(f.data(), 6);
    EXPECT_EQ(toHex(f), "01 03 00 00 00 0A C5 CD");  // low byte first
    EXPECT_TRUE(rtu::crcOk(f.data(), f.size()));
    for (size_t i = 0; i < f.size() * 8; ++i) {
        Bytes bad = f;
        bad[i / 8] ^= static_cast<uint8_t>(1U << (i % 8));
        EXPECT_FALSE(rtu::crcOk(bad.data(), bad.size())) << "bit " << i;
    }
    // The CRC of no bytes is FF FF, but two bytes are no frame.
    EXPECT_FALSE(rtu::crcOk(hexBytes("FF FF").data(), 2));
}

TEST(RtuFrame, CrcTableAgreesWithTheBitwiseCrcOnRandomFrames) {
    std::mt19937 random(20240611);
    for (size_t length = 0; length <= 300; ++length) {
        Bytes data(length);
        for (uint8_t& byte : data) {
            byte = static_cast<uint8_t>(random());
        }
        const uint16_t want = bitwiseCrc(data);
        ASSERT_EQ(rtu::crc16(data.data(), data.size()), want) << toHex(data);
        rtu::appendCrc(data);
        ASSERT_EQ(data.size(), length + 2);
        EXPECT_EQ(data[length] | data[length + 1] << 8, want);
        EXPECT_EQ(rtu::crcOk(data.data(), data.size()), length > 0);
    }
}

}  // namespace
