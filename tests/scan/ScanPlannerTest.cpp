// The scan planner against the real driver: which tags share a request, in which order, and the
// block each request reads.

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include <qarn/driver/Protocol_QARN.h>
#include <qarn/scan/ScanPlanner.h>

namespace {

// Node 1 GenericModbus (HREG 15 per request, IREG 11), node 2 EM24 (HREG 11), node 4
// GenericModbus with maxOptLen 20 (10 registers).
const char* const Config =
    "CfgVer=1 uart=com1 baudrate=9600 parity=none bits=8 stopbits=1 mode=RS-485 "
    "defNodeId=1 model=GenericModbus Node2::defNodeId=2 Node2::model=EM24 "
    "Node4::defNodeId=4 Node4::model=GenericModbus Node4::maxOptLen=20";

class ScanPlanner : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(protocol.Config(Config)) << protocol.GetLastErrorString(); }

    // Plans the tags (addresses separated by ';') and returns the requests in plan order, each
    // as the indices of its tags, leader first: "0 2 | 1". Checks that each request reads from
    // its leader's byte to the furthest end of its tags.
    std::string plan(const std::string& addresses) {
        protocol.DeleteTags();
        std::vector<const ITag*> tags;
        std::istringstream in(addresses);
        for (std::string a; std::getline(in, a, ';');) {
            tags.push_back(protocol.CreateTag(a.c_str()));
            if (tags.back() == nullptr) {
                ADD_FAILURE() << a << ": " << protocol.GetLastErrorString();
                return "";
            }
        }
        std::string text;
        for (const qarn::ScanGroup& g : qarn::planScan(protocol, tags)) {
            int end = 0;
            text += text.empty() ? "" : " |";
            for (const size_t i : g.tags) {
                text += " " + std::to_string(i);
                end = std::max(end, tags[i]->GetByteOffset() + tags[i]->PackedLen());
            }
            EXPECT_EQ(g.byteOffset, tags[g.tags.front()]->GetByteOffset()) << addresses;
            EXPECT_EQ(g.length, end - g.byteOffset) << addresses;
        }
        return text.substr(1);
    }

    Protocol_QARN protocol;
};

TEST_F(ScanPlanner, MergesWhatTheProtocolAllowsAndNeverBits) {
    const std::pair<const char*, const char*> cases[] = {
        // EM24 reads 11 registers at most: a 12-register span is two requests.
        {"2?HREG?400001?unsignedShort;2?HREG?400011?unsignedShort", "0 1"},
        {"2?HREG?400001?unsignedShort;2?HREG?400012?unsignedShort", "0 | 1"},
        {"2?HREG?400001?short;2?HREG?400011?int", "0 | 1"},  // a tag's last register counts
        // maxOptLen 20 allows 10 registers.
        {"4?HREG?400001?unsignedShort;4?HREG?400010?unsignedShort;4?HREG?400011?unsignedShort",
         "0 1 | 2"},
        // Nodes and areas never share; by node, then byte offset.
        {"1?HREG?400001?short;4?HREG?400001?short;1?IREG?300001?short", "0 | 2 | 1"},
        // Coils and discrete inputs are read one tag each, although the protocol would merge.
        {"1?OUTP?1?boolean;1?OUTP?2?boolean;1?INP?100001?boolean-4;1?INP?100005?boolean",
         "0 | 1 | 2 | 3"},
        // Node override tags stand alone.
        {"1?NO?0?unsignedByte;1?HREG?400001?short;2?NO?0?unsignedByte", "1 | 0 | 2"},
        // Bytes and bits of one register merge with it, the same register twice too.
        {"1?HREG?400003.1?byte;1?HREG?400003?unsignedShort;1?HREG?400003.15?boolean;"
         "1?HREG?400003.0?unsignedByte;1?HREG?400004.3?boolean",
         "1 3 0 2 4"},
        // At the same byte a register leads its bits, even when they are as long.
        {"1?HREG?400001.0?boolean-16;1?HREG?400001?short", "1 0"},
        // A string too long to share is read alone; its neighbours still merge.
        {"2?HREG?400001?short;2?HREG?400002?string-40;2?HREG?400003?short", "0 2 | 1"},
    };
    for (const auto& [addresses, requests] : cases) {
        EXPECT_EQ(plan(addresses), requests) << addresses;
    }
}

}  // namespace
