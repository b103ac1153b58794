#include <gtest/gtest.h>

#include <qarn/rtu/NodeAddress.h>

#include <string>

namespace {

// Every text a user or a damaged store may hand over, and what the guard makes of it.
TEST(NodeAddress, OnlySlaveAddressesAndTheDisabledMarkPassWithoutBroadcast) {
    struct Case {
        const char* text;
        bool number;  // parses
        long node;
        bool passes;           // without --broadcast
        bool passesBroadcast;  // with it
    };
    const Case cases[] = {
        {"1", true, 1, true, true},
        {"247", true, 247, true, true},
        {"0x10", true, 16, true, true},
        {"012", true, 10, true, true},
        {"255", true, 255, true, true},
        {"0", true, 0, false, true},
        {"0x0", true, 0, false, true},
        {"248", true, 248, false, false},
        {"254", true, 254, false, false},
        {"256", true, 256, false, false},
        {"0x102", true, 258, false, false},
        {"-1", false, 0, false, false},
        {"+3", false, 0, false, false},
        {"", false, 0, false, false},
        {"abc", false, 0, false, false},
        {"3 ", false, 0, false, false},
        {" 3", false, 0, false, false},
        {"3x", false, 0, false, false},
        {"99999999999999999999", false, 0, false, false},
    };
    for (const Case& c : cases) {
        long node = -42;
        EXPECT_EQ(rtu::parseNodeId(c.text, node), c.number) << c.text;
        if (c.number) {
            EXPECT_EQ(node, c.node) << c.text;
        }
        EXPECT_EQ(rtu::nodeTextProblem(c.text, false, "node").empty(), c.passes) << c.text;
        EXPECT_EQ(rtu::nodeTextProblem(c.text, true, "node").empty(), c.passesBroadcast) << c.text;
    }
}

TEST(NodeAddress, ReasonsSayWhatWouldHaveBeenSent) {
    EXPECT_EQ(rtu::nodeTextProblem("0x102", false, "override target"),
              "override target '0x102': node 258 is out of range (1 to 247; the plug-in would "
              "send its low byte, 2)");
    EXPECT_EQ(rtu::nodeTextProblem("abc", false, "stored override"),
              "stored override 'abc' is not a node number");
    EXPECT_NE(rtu::nodeProblem(0, false).find("--broadcast"), std::string::npos);
    EXPECT_NE(rtu::nodeProblem(250, false).find("reserved"), std::string::npos);
}

}  // namespace
