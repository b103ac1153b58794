// The layout around the pointer that GetXml_QARN hands out. Inflating the stream needs zlib,
// which the target does not carry; the check of the plug-in file does that on the build machine.

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Xml_QARN.h"

namespace {

const char kHeader[] =
    "<<ORBA_XML_START>>Name=QARN?FullName=Modbus Pelrosa?Version=114?Platform=KT52_LIN";
const char kEndMarker[] = "<<ORBA_XML_END>>";
const char kSizePrefix[] = "compressedXML=";

TEST(EmbeddedBlockTest, PointerSitsOnTheSizeLineBetweenHeaderAndStream) {
    const char* sizeLine = GetXml_QARN();
    ASSERT_NE(sizeLine, nullptr);
    ASSERT_EQ(std::strncmp(sizeLine, kSizePrefix, sizeof kSizePrefix - 1), 0);

    // The header, with its NUL, ends right where the size line begins.
    ASSERT_EQ(sizeof kHeader, 82u);
    EXPECT_EQ(std::memcmp(sizeLine - sizeof kHeader, kHeader, sizeof kHeader), 0);

    // The size is plain decimal: digits only, no sign, no leading zero, then the NUL.
    const std::string digits(sizeLine + sizeof kSizePrefix - 1);
    ASSERT_FALSE(digits.empty());
    EXPECT_NE(digits[0], '0');
    for (char c : digits) {
        EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(c))) << digits;
    }
    const long length = std::strtol(digits.c_str(), nullptr, 10);
    ASSERT_GT(length, 2);

    // A zlib stream: deflate method, a header checksum that divides by 31, no preset dictionary.
    const auto* stream =
        reinterpret_cast<const unsigned char*>(sizeLine + std::strlen(sizeLine) + 1);
    EXPECT_EQ(stream[0] & 0x0f, 8);
    EXPECT_EQ(((stream[0] << 8) | stream[1]) % 31, 0);
    EXPECT_EQ(stream[1] & 0x20, 0);

    // The stated length ends exactly at the end marker.
    EXPECT_EQ(std::memcmp(stream + length, kEndMarker, sizeof kEndMarker), 0);
}

}  // namespace
