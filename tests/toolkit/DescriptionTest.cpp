#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include <qarn/toolkit/Description.h>

namespace {

const std::string Xml =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<protocol_cfg><name>QARN</name></protocol_cfg>\n";

// A block laid out as the plug-in carries it, from the size line on.
std::string block(long sizeDelta = 0, size_t cut = 0) {
    uLongf length = compressBound(Xml.size());
    std::string z(length, '\0');
    compress2(reinterpret_cast<Bytef*>(&z[0]), &length, reinterpret_cast<const Bytef*>(Xml.data()),
              Xml.size(), 9);
    z.resize(length - cut);
    return "compressedXML=" + std::to_string(static_cast<long>(z.size()) + sizeDelta) + '\0' + z +
           "<<ORBA_XML_END>>" + '\0';
}

}  // namespace

TEST(Description, InflatesTheWholeDocumentAndReportsBrokenBlocks) {
    std::string xml, error;
    ASSERT_TRUE(qarn::inflateDescription(block().c_str(), xml, error)) << error;
    EXPECT_EQ(xml, Xml);

    std::string wrongKey = block();
    wrongKey[0] = 'C';
    std::string corrupt = block();
    corrupt[corrupt.find('\0') + 4] ^= 0x55;
    // The whole error, or its start when it ends in ": ".
    const std::pair<std::string, const char*> cases[] = {
        {wrongKey, "the description does not start with \"compressedXML=\""},
        {std::string("compressedXML=\0", 15), "the description's size line has no number"},
        {block(+1), "the description's end marker is not where its size line says"},
        {block(0, 3), "the description's zlib stream is cut short"},
        {corrupt, "the description does not inflate (zlib error "},
    };
    for (const auto& [broken, message] : cases) {
        EXPECT_FALSE(qarn::inflateDescription(broken.c_str(), xml, error)) << message;
        const std::string expected = message;
        EXPECT_EQ(expected.back() == ' ' ? error.substr(0, expected.size()) : error, expected);
    }
    EXPECT_FALSE(qarn::inflateDescription(nullptr, xml, error));
    EXPECT_EQ(error, "the plug-in publishes no description");
}
