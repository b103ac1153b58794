#include "Description.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

namespace {

const std::string Xml =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<protocol_cfg><name>QARN</name></protocol_cfg>\n";

// A block laid out as the plug-in carries it, from the size line on.
std::string block(const std::string& xml, long sizeDelta = 0, size_t cut = 0) {
    uLongf length = compressBound(xml.size());
    std::string z(length, '\0');
    compress2(reinterpret_cast<Bytef*>(&z[0]), &length, reinterpret_cast<const Bytef*>(xml.data()),
              xml.size(), 9);
    z.resize(length - cut);
    std::string out = "compressedXML=" + std::to_string(static_cast<long>(z.size()) + sizeDelta);
    out += '\0';
    out += z;
    out += "<<ORBA_XML_END>>";
    out += '\0';
    return out;
}

}  // namespace

TEST(Description, InflatesTheWholeDocument) {
    const std::string b = block(Xml);
    std::string xml;
    std::string error;
    ASSERT_TRUE(qarn::inflateDescription(b.c_str(), xml, error)) << error;
    EXPECT_EQ(xml, Xml);
}

TEST(Description, BrokenBlocksAreReported) {
    std::string wrongKey = block(Xml);
    wrongKey[0] = 'C';
    std::string badDigit = block(Xml);
    badDigit[15] = 'x';
    std::string corrupt = block(Xml);
    corrupt[corrupt.find('\0') + 4] ^= 0x55;
    const struct {
        std::string block;
        const char* error;
    } cases[] = {
        {wrongKey, "the description does not start with \"compressedXML=\""},
        {std::string("compressedXML=\0", 15), "the description's size line has no number"},
        {badDigit, ""},  // message names the line: checked by prefix below
        {block(Xml, +1), "the description's end marker is not where its size line says"},
        {block(Xml, -1), "the description's end marker is not where its size line says"},
        {block(Xml, 0, 3), "the description's zlib stream is cut short"},
        {corrupt, nullptr},
    };
    for (const auto& c : cases) {
        std::string xml;
        std::string error;
        EXPECT_FALSE(qarn::inflateDescription(c.block.c_str(), xml, error)) << error;
        if (c.error == nullptr) {
            EXPECT_FALSE(error.empty());
        } else if (c.error[0] == '\0') {
            EXPECT_EQ(error.rfind("the description's size line is broken: ", 0), 0U) << error;
        } else {
            EXPECT_EQ(error, c.error);
        }
    }
    std::string xml;
    std::string error;
    EXPECT_FALSE(qarn::inflateDescription(nullptr, xml, error));
    EXPECT_EQ(error, "the plug-in publishes no description");
}
