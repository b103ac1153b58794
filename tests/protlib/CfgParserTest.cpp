// Configuration string parser: usable text, node ids, lookups, result codes and messages.

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "CfgParser.h"

namespace {

std::vector<int> nodeIds(const CfgParser& parser) {
    std::vector<int> ids;
    for (int i = -1; i <= parser.GetNodeCount(); ++i) {  // both ends out of range give 0
        ids.push_back(parser.GetNodeID(i));
    }
    return ids;
}

TEST(CfgParser, UsableTextAndKeyPositions) {
    CfgParser unknown("baudrate=9600 Node1::timeout=5");
    EXPECT_FALSE(unknown.KnownFormat());
    EXPECT_EQ(unknown.GetParam("baudrate"), nullptr);
    std::string value = "untouched";
    EXPECT_EQ(unknown.getParam("timeout", 1, value, 0), CfgParser::PR_NOT_FOUND);
    EXPECT_EQ(value, "untouched");
    EXPECT_EQ(nodeIds(unknown), (std::vector<int>{0, 0}));

    // Only the text between this version marker and the next one counts; empty values are found.
    CfgParser parser("junk=1 CfgVer=1 a=1 b= stopbits=2\tNode1::bits=7\nbits=8 CfgVer=2 c=3");
    EXPECT_TRUE(parser.KnownFormat());
    EXPECT_EQ(parser.GetParam("junk"), nullptr);
    EXPECT_EQ(parser.GetParam("c"), nullptr);
    EXPECT_STREQ(parser.GetParam("a"), "1");
    EXPECT_STREQ(parser.GetParam("b"), "");
    // Keys count only at the start of an item.
    EXPECT_STREQ(parser.GetParam("bits"), "8");
    EXPECT_STREQ(parser.GetParam("Node1::bits"), "7");
    EXPECT_EQ(CfgParser("CfgVer=1 stopbits=2").getParam("bits", -1, value, 0),
              CfgParser::PR_NOT_FOUND);
    EXPECT_STREQ(CfgParser("CfgVer=12x=5").GetParam("2x"), "5");  // digits glued to the marker
}

TEST(CfgParser, CollectsNodeIdsOnce) {
    CfgParser parser(
        "CfgVer=1 Node3::a=1 Node1::a=2 Node3::b=3 Node12::a=4 NodeX1::a=5 Node::a=6 Node7");
    EXPECT_EQ(nodeIds(parser), (std::vector<int>{0, 3, 1, 12, 0, 0}));
    EXPECT_STREQ(parser.GetParam("NodeX1::a"), "5");  // no node: reachable by its exact name only
    EXPECT_EQ(nodeIds(CfgParser("CfgVer=1 Node99999999999::a=1 Node2::a=2")),
              (std::vector<int>{0, 2, 0}));
}

TEST(CfgParser, LookupResultCodes) {
    const char* const both = "CfgVer=1 timeout=100 Node1::timeout=50 Node2::model=EM24";
    const char* const nodeOnly = "CfgVer=1 Node1::timeout=50";
    const char* const noNodes = "CfgVer=1 timeout=100";
    const int global = CfgParser::FLAG_GLOBAL_ONLY, perNode = CfgParser::FLAG_PER_NODE;
    // text, node, flags, result, value ("-" when it must stay untouched)
    const std::tuple<const char*, int, int, CfgParser::parseResult, const char*> cases[] = {
        {both, 1, 0, CfgParser::PR_OK, "50"},
        {both, 2, 0, CfgParser::PR_OK, "100"},
        {both, 1, global, CfgParser::PR_CANT_BE_PREFIXED, "-"},
        {both, 2, global, CfgParser::PR_OK, "100"},
        {both, -1, 0, CfgParser::PR_OK, "100"},
        {both, -1, perNode, CfgParser::PR_CANT_BE_NODE_INDEPENDENT, "-"},
        {both, 1, 3, CfgParser::PR_INVALID_SPECIFICATION, "-"},
        {nodeOnly, 1, perNode, CfgParser::PR_OK, "50"},
        {nodeOnly, -1, 0, CfgParser::PR_NOT_FOUND, "-"},
        {nodeOnly, -1, perNode, CfgParser::PR_NODE_ONLY, "-"},
        {nodeOnly, 2, 0, CfgParser::PR_NOT_FOUND, "-"},
        {noNodes, -1, perNode, CfgParser::PR_OK, "100"},
        {"timeout=100", -1, 3, CfgParser::PR_INVALID_SPECIFICATION, "-"},
    };
    for (const auto& [text, node, flags, result, expected] : cases) {
        std::string value = "-";
        EXPECT_EQ(CfgParser(text).getParam("timeout", node, value, flags), result)
            << text << " node " << node << " flags " << flags;
        EXPECT_EQ(value, expected) << text << " node " << node << " flags " << flags;
    }
}

TEST(CfgParser, UnescapesBlanksAndNamesReasons) {
    const std::pair<const char*, const char*> escapes[] = {{"a&nbsp;b", "a b"},
                                                           {"a&nbsp;&nbsp;b", "a  b"},
                                                           {"&nbsp", "&nbsp"},
                                                           {"&&nbsp;nbsp;", "& nbsp;"}};
    for (const auto& [raw, expected] : escapes) {
        std::string value = "old";
        EXPECT_TRUE(CfgParserN::parseValue(raw, value));
        EXPECT_EQ(value, expected) << raw;
    }
    const char* const reasons[] = {"has unknown error",
                                   "has unknown error",
                                   "is not found",
                                   "has illegal value",
                                   "can't be prefixed",
                                   "can't be node independent",
                                   "has invalid internal specification",
                                   "has unknown error"};
    for (int r = 0; r < 8; ++r) {
        EXPECT_EQ(CfgParserN::getErrorString(static_cast<CfgParser::parseResult>(r), "baudrate"),
                  std::string("Parser: parameter 'baudrate' ") + reasons[r]);
    }
}

}  // namespace
