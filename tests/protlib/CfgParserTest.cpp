// Configuration string parser: usable text, node ids, lookups and their result codes.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CfgParser.h"

namespace {

std::vector<int> nodeIds(const CfgParser& parser) {
    std::vector<int> ids;
    for (int i = 0; i < parser.GetNodeCount(); ++i) {
        ids.push_back(parser.GetNodeID(i));
    }
    return ids;
}

}  // namespace

TEST(CfgParser, UnknownFormatDeliversNothing) {
    CfgParser parser("baudrate=9600 Node1::timeout=5");
    EXPECT_FALSE(parser.KnownFormat());
    EXPECT_EQ(parser.GetNodeCount(), 0);
    EXPECT_EQ(parser.GetParam("baudrate"), nullptr);
    std::string value = "untouched";
    EXPECT_EQ(parser.getParam("baudrate", -1, value, 0), CfgParser::PR_NOT_FOUND);
    EXPECT_EQ(parser.getParam("timeout", 1, value, 0), CfgParser::PR_NOT_FOUND);
    EXPECT_EQ(parser.getParam("timeout", 1, value, 3), CfgParser::PR_INVALID_SPECIFICATION);
    EXPECT_EQ(value, "untouched");
    EXPECT_FALSE(CfgParser(nullptr).KnownFormat());
}

TEST(CfgParser, UsableTextEndsAtTheNextVersionMarker) {
    CfgParser parser("junk=1 CfgVer=1 a=1 b= CfgVer=2 c=3");
    EXPECT_TRUE(parser.KnownFormat());
    EXPECT_EQ(parser.GetParam("junk"), nullptr);
    ASSERT_NE(parser.GetParam("a"), nullptr);
    EXPECT_STREQ(parser.GetParam("a"), "1");
    ASSERT_NE(parser.GetParam("b"), nullptr);
    EXPECT_STREQ(parser.GetParam("b"), "");
    EXPECT_EQ(parser.GetParam("c"), nullptr);
    // Digits glued to the marker start the usable text.
    CfgParser glued("CfgVer=12x=5");
    EXPECT_TRUE(glued.KnownFormat());
    EXPECT_STREQ(glued.GetParam("2x"), "5");
}

TEST(CfgParser, KeysOnlyAtTheStartOfAnItem) {
    CfgParser parser("CfgVer=1 stopbits=2\tNode1::bits=7 parity=even\nbits=8");
    EXPECT_STREQ(parser.GetParam("bits"), "8");
    EXPECT_STREQ(parser.GetParam("parity"), "even");
    EXPECT_STREQ(parser.GetParam("Node1::bits"), "7");
    CfgParser noGlobal("CfgVer=1 stopbits=2");
    std::string value;
    EXPECT_EQ(noGlobal.getParam("bits", -1, value, 0), CfgParser::PR_NOT_FOUND);
}

TEST(CfgParser, CollectsNodeIdsOnce) {
    CfgParser parser(
        "CfgVer=1 Node3::a=1 Node1::a=2 Node3::b=3 Node12::a=4 NodeX1::a=5 Node::a=6 Node7");
    EXPECT_EQ(nodeIds(parser), (std::vector<int>{3, 1, 12, 0}));
    EXPECT_EQ(parser.GetNodeID(-1), 0);
    EXPECT_EQ(parser.GetNodeID(parser.GetNodeCount()), 0);
    // A prefix that names no node is reachable only by its exact name.
    EXPECT_STREQ(parser.GetParam("NodeX1::a"), "5");
    CfgParser huge("CfgVer=1 Node99999999999::a=1 Node2::a=2");
    EXPECT_EQ(nodeIds(huge), (std::vector<int>{2}));
}

TEST(CfgParser, LookupResultCodes) {
    const char* const bothLevels = "CfgVer=1 timeout=100 Node1::timeout=50 Node2::model=EM24";
    const char* const nodeOnly = "CfgVer=1 Node1::timeout=50";
    const char* const noNodes = "CfgVer=1 timeout=100";
    struct Case {
        const char* text;
        int node;
        int flags;
        CfgParser::parseResult result;
        const char* value;  // expected value; "-" when it must stay untouched
    };
    const Case cases[] = {
        {bothLevels, 1, 0, CfgParser::PR_OK, "50"},
        {bothLevels, 2, 0, CfgParser::PR_OK, "100"},
        {bothLevels, 1, CfgParser::FLAG_GLOBAL_ONLY, CfgParser::PR_CANT_BE_PREFIXED, "-"},
        {bothLevels, 2, CfgParser::FLAG_GLOBAL_ONLY, CfgParser::PR_OK, "100"},
        {bothLevels, -1, 0, CfgParser::PR_OK, "100"},
        {bothLevels, -1, CfgParser::FLAG_PER_NODE, CfgParser::PR_CANT_BE_NODE_INDEPENDENT, "-"},
        {bothLevels, 1, 3, CfgParser::PR_INVALID_SPECIFICATION, "-"},
        {nodeOnly, 1, 0, CfgParser::PR_OK, "50"},
        {nodeOnly, 1, CfgParser::FLAG_PER_NODE, CfgParser::PR_OK, "50"},
        {nodeOnly, -1, 0, CfgParser::PR_NOT_FOUND, "-"},
        {nodeOnly, -1, CfgParser::FLAG_PER_NODE, CfgParser::PR_NODE_ONLY, "-"},
        {nodeOnly, 2, 0, CfgParser::PR_NOT_FOUND, "-"},
        {noNodes, -1, CfgParser::FLAG_PER_NODE, CfgParser::PR_OK, "100"},
        {noNodes, 5, CfgParser::FLAG_PER_NODE, CfgParser::PR_OK, "100"},
    };
    for (const Case& c : cases) {
        CfgParser parser(c.text);
        std::string value = "-";
        EXPECT_EQ(parser.getParam("timeout", c.node, value, c.flags), c.result)
            << c.text << " node " << c.node << " flags " << c.flags;
        EXPECT_EQ(value, c.value) << c.text << " node " << c.node << " flags " << c.flags;
    }
}

TEST(CfgParser, UnescapesBlanks) {
    const std::pair<const char*, const char*> cases[] = {
        {"a&nbsp;b", "a b"}, {"a&nbsp;&nbsp;b", "a  b"},  {"&nbsp;", " "},
        {"&nbsp", "&nbsp"},  {"&&nbsp;nbsp;", "& nbsp;"},
    };
    for (const auto& c : cases) {
        std::string value = "old";
        EXPECT_TRUE(CfgParserN::parseValue(c.first, value));
        EXPECT_EQ(value, c.second) << c.first;
    }
}

TEST(CfgParser, ErrorMessages) {
    const std::pair<int, const char*> reasons[] = {
        {CfgParser::PR_OK, "has unknown error"},
        {CfgParser::PR_NODE_ONLY, "has unknown error"},
        {CfgParser::PR_NOT_FOUND, "is not found"},
        {CfgParser::PR_ILLEGAL_VALUE, "has illegal value"},
        {CfgParser::PR_CANT_BE_PREFIXED, "can't be prefixed"},
        {CfgParser::PR_CANT_BE_NODE_INDEPENDENT, "can't be node independent"},
        {CfgParser::PR_INVALID_SPECIFICATION, "has invalid internal specification"},
        {7, "has unknown error"},
    };
    for (const auto& r : reasons) {
        EXPECT_EQ(
            CfgParserN::getErrorString(static_cast<CfgParser::parseResult>(r.first), "baudrate"),
            std::string("Parser: parameter 'baudrate' ") + r.second);
    }
}
