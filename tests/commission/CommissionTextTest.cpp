// What the user types and what the scan derives from it: node lists, values of a configuration
// string, and the probe timing chosen from the line speed.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <qarn/commission/ConfigText.h>
#include <qarn/commission/NodeList.h>
#include <qarn/commission/NodeProber.h>
#include <qarn/toolkit/Errors.h>

namespace {

TEST(NodeList, RangesAndListsInTheOrderWrittenEachNodeOnce) {
    const struct {
        const char* text;
        std::vector<int> nodes;
    } cases[] = {
        {"7", {7}},     {"1-3", {1, 2, 3}}, {"1,2,7-9", {1, 2, 7, 8, 9}}, {"9,1-3,2", {9, 1, 2, 3}},
        {"247", {247}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(qarn::parseNodeList(c.text), c.nodes) << c.text;
    }
    EXPECT_EQ(qarn::parseNodeList("1-247").size(), 247U);
    for (const char* bad :
         {"", "0", "248", "1-248", "5-3", "1,,2", "1,", "a", "1-", "-3", "1.5", "1 2"}) {
        EXPECT_THROW(qarn::parseNodeList(bad), qarn::UsageError) << "'" << bad << "'";
    }
}

TEST(ConfigText, ValuesAreReadAndSetWholeItemsAtATime) {
    const std::string cfg =
        "CfgVer=1 uart=com1 baudrate=9600 parity=even bits=8\n stopbits=1 Node3::timeout=900 "
        "defNodeId=1";
    EXPECT_EQ(qarn::configValue(cfg, "bits"), "8") << "not the end of stopbits";
    EXPECT_EQ(qarn::configValue(cfg, "stopbits"), "1");
    EXPECT_EQ(qarn::configValue(cfg, "timeout"), "") << "only a node's own";
    EXPECT_EQ(qarn::withConfigValue(cfg, "bits", "7"),
              "CfgVer=1 uart=com1 baudrate=9600 parity=even bits=7 stopbits=1 "
              "Node3::timeout=900 defNodeId=1");
    // The node's own time-out goes too, or the probe of node 3 would wait 900 ms.
    EXPECT_EQ(qarn::withConfigValue(cfg, "timeout", "110"),
              "CfgVer=1 uart=com1 baudrate=9600 parity=even bits=8 stopbits=1 "
              "Node3::timeout=110 defNodeId=1 timeout=110");
}

TEST(ProbeTiming, CoversTheExchangeAndKeepsAFullScanAt9600BaudUnderAMinute) {
    for (const int baud : {1200, 9600, 19200, 115200}) {
        for (const rtu::Parity parity : {rtu::Parity::None, rtu::Parity::Even}) {
            for (const int stop : {1, 2}) {
                const qarn::ProbeTiming t = qarn::probeTiming(baud, parity, stop);
                const int64_t lineUs = 15 * rtu::characterTimeUs(baud, 8, parity, stop);
                SCOPED_TRACE(std::to_string(baud) + " " + std::to_string(stop));
                EXPECT_GE(t.timeoutMs * 1000, lineUs + 80000);
                EXPECT_EQ(t.timeoutMs % 10, 0);
                EXPECT_GE(t.guardMs * 2, t.timeoutMs);
            }
        }
    }
    // The slowest framing at 9600: every one of 247 nodes silent.
    const qarn::ProbeTiming slow = qarn::probeTiming(9600, rtu::Parity::Even, 2);
    EXPECT_LT(247 * (slow.timeoutMs + slow.guardMs), 60000);
    EXPECT_GT(qarn::probeTiming(1200, rtu::Parity::Even, 1).timeoutMs,
              qarn::probeTiming(9600, rtu::Parity::Even, 1).timeoutMs);
}

}  // namespace
