// Configuration string parser: usable text, node ids, lookups, result codes and messages.

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include <qarn/protlib/CfgParser.h>

namespace {

std::vector<int> nodeIds(const CfgParser& parser) {
    std::vector<int> ids;
    for (int i = -1; i <= parser.GetNodeCount(); ++i) {  // both ends out of range give 0
        ids.push_back(parser.GetNodeID(i));
    }
    return ids;
}

TEST(CfgParser, UsableTextKeyPositionsAndNodeIds) {
    CfgParser unknown("baudrate=9600 Node1::timeout=5");
    EXPECT_TRUE(!unknown.KnownFormat() && unknown.GetParam("baudrate") == nullptr);
    EXPECT_EQ(nodeIds(unknown), (std::vector<int>{0, 0}));
    // Only the text between this version marker and the next one counts; empty values are found;
    // keys count only at the start of an item.
    CfgParser parser("junk=1 CfgVer=1 a=1 b= stopbits=2\tNode1::bits=7\nbits=8 CfgVer=2 c=3");
    EXPECT_TRUE(parser.GetParam("junk") == nullptr && parser.GetParam("c") == nullptr);
    EXPECT_STREQ(parser.GetParam("b"), "");
    EXPECT_STREQ(parser.GetParam("bits"), "8");
    EXPECT_STREQ(parser.GetParam("Node1::bits"), "7");
    CfgParser nodes(
        "CfgVer=1 Node3::a=1 Node1::a=2 Node3::b=3 Node12::a=4 NodeX1::a=5 Node::a=6 "
        "Node99999999999::a=7 Node7");
    EXPECT_EQ(nodeIds(nodes), (std::vector<int>{0, 3, 1, 12, 0, 0}));
    EXPECT_STREQ(nodes.GetParam("NodeX1::a"), "5");  // no node: reachable by its exact name only
}

TEST(CfgParser, LookupResultCodes) {
    const char* const both = "CfgVer=1 timeout=100 Node1::timeout=50 Node2::model=EM24";
    const char* const only = "CfgVer=1 Node1::timeout=50";  // node blocks only
    const int global = CfgParser::FLAG_GLOBAL_ONLY, perNode = CfgParser::FLAG_PER_NODE;
    // text, node, flags, result, value ("-" when it must stay untouched)
    using P = CfgParser;
    // clang-format off
    const std::tuple<const char*, int, int, P::parseResult, const char*> cases[] = {
        {both, 1, 0, P::PR_OK, "50"},                   {both, 2, 0, P::PR_OK, "100"},
        {both, 1, global, P::PR_CANT_BE_PREFIXED, "-"}, {both, 2, global, P::PR_OK, "100"},
        {both, -1, perNode, P::PR_CANT_BE_NODE_INDEPENDENT, "-"},
        {both, 1, 3, P::PR_INVALID_SPECIFICATION, "-"}, {only, 1, perNode, P::PR_OK, "50"},
        {only, -1, 0, P::PR_NOT_FOUND, "-"},            {only, -1, perNode, P::PR_NODE_ONLY, "-"},
        {only, 2, 0, P::PR_NOT_FOUND, "-"}, {"CfgVer=1 timeout=100", -1, perNode, P::PR_OK, "100"}};
    // clang-format on
    for (const auto& [text, node, flags, result, expected] : cases) {
        SCOPED_TRACE(std::string(text) + " node " + std::to_string(node) + " flags " +
                     std::to_string(flags));
        std::string value = "-";
        EXPECT_EQ(CfgParser(text).getParam("timeout", node, value, flags), result);
        EXPECT_EQ(value, expected);
    }
}

TEST(CfgParser, UnescapesBlanksAndNamesReasons) {
    std::string value = "old";
    EXPECT_TRUE(CfgParserN::parseValue("&&nbsp;nbsp;a&nbsp;&nbsp;b", value));
    EXPECT_EQ(value, "& nbsp;a  b");
    // clang-format off
    const char* const reasons[] = {"has unknown error", "has unknown error", "is not found",
        "has illegal value", "can't be prefixed", "can't be node independent",
        "has invalid internal specification", "has unknown error"};
    // clang-format on
    for (int r = 0; r < 8; ++r) {
        EXPECT_EQ(CfgParserN::getErrorString(static_cast<CfgParser::parseResult>(r), "baudrate"),
                  std::string("Parser: parameter 'baudrate' ") + reasons[r]);
    }
}

}  // namespace
