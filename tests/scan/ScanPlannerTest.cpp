// The scan planner against the real driver: every plan is checked against the merge rules, worked
// out from the tags' own fields, and its request count against the least that they allow.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <qarn/driver/MemoryType.h>
#include <qarn/driver/ParamManager.h>
#include <qarn/driver/Protocol_QARN.h>
#include <qarn/driver/Tag_QARN.h>
#include <qarn/protlib/ProtUtilsN.h>
#include <qarn/scan/ScanPlanner.h>

namespace {

using Tags = std::vector<const Tag_QARN*>;

// Node 1 GenericModbus (HREG 15 per request, IREG 11), node 2 EM24 (HREG 11), node 3 WM40
// (HREG 125, so maxOptLen 256 = 128 registers does not bind), node 4 GenericModbus with
// maxOptLen 20 (10 registers), node 5 ISMG1xx.
const char* const Config =
    "CfgVer=1 uart=com1 baudrate=9600 parity=none bits=8 stopbits=1 mode=RS-485 "
    "defNodeId=1 model=GenericModbus Node2::defNodeId=2 Node2::model=EM24 "
    "Node3::defNodeId=3 Node3::model=WM40 Node4::defNodeId=4 Node4::model=GenericModbus "
    "Node4::maxOptLen=20 Node5::defNodeId=5 Node5::model=ISMG1xx";

bool answeredByDriver(const Tag_QARN* t) {
    return t->getMemoryType()->isNamed("NO") || t->getMemoryType()->isNamed("SL");
}
// The end of the bytes the tags occupy in their area's raw image.
int endOf(const Tags& tags) {
    int end = 0;
    for (const Tag_QARN* t : tags) {
        end = std::max(end, t->GetByteOffset() + t->PackedLen());
    }
    return end;
}

// Whether these tags may share one request led by the first: one node and function, none before
// it, the span within block read count and maxOptLen; never bit areas or the driver's own areas.
bool mayShare(const Tags& members) {
    const Tag_QARN* lead = members.front();
    const ICU_Type natural = lead->getMemoryType()->getNaturalType();
    bool ok = members.size() == 1 || !(ProtUtilsN::IsBitType(natural) || answeredByDriver(lead));
    for (const Tag_QARN* m : members) {
        ok = ok && m->getNodeId() == lead->getNodeId() && m->getReadCode() == lead->getReadCode() &&
             m->GetByteOffset() >= lead->GetByteOffset();
    }
    const int L = ProtUtilsN::GetDataLength(natural);
    const long items = (endOf(members) - lead->getOffset() * L + L - 1) / L;
    return ok && (members.size() == 1 ||
                  items <= std::min<long>(lead->getNodeParams()->maxOptLen / L,
                                          lead->getMemoryType()->getBlockReadCount()));
}

// The fewest requests the merge rules allow, by an exhaustive search over the subsets.
size_t fewestRequests(Tags tags) {
    std::sort(tags.begin(), tags.end(), [](const Tag_QARN* a, const Tag_QARN* b) {
        return a->GetByteOffset() < b->GetByteOffset();
    });
    const size_t n = tags.size();
    const unsigned all = (1u << n) - 1;
    std::vector<bool> valid(all + 1);
    std::vector<size_t> best(all + 1, n + 1);
    best[0] = 0;
    // Subsets come before their supersets; a cover of `mask` has a group with its lowest tag.
    for (unsigned mask = 1; mask <= all; ++mask) {
        Tags members;
        for (size_t i = 0; i < n; ++i) {
            if ((mask & (1u << i)) != 0) {
                members.push_back(tags[i]);
            }
        }
        valid[mask] = mayShare(members);
        const unsigned low = mask & (~mask + 1);
        for (unsigned sub = mask; sub != 0; sub = (sub - 1) & mask) {
            if ((sub & low) != 0 && valid[sub]) {
                best[mask] = std::min(best[mask], best[mask ^ sub] + 1);
            }
        }
    }
    return best[all];
}

class ScanPlanner : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(protocol.Config(Config)) << protocol.GetLastErrorString(); }

    // Plans the tags (addresses separated by ';') and checks that every tag is in exactly one
    // group, each group a request the rules allow covering its tags' bytes, and that there are
    // no more requests than needed (and `expected`, when given).
    void plan(const std::string& addresses, size_t expected = 0) {
        SCOPED_TRACE(addresses);
        protocol.DeleteTags();
        std::vector<const ITag*> tags;
        Tags own;
        std::istringstream in(addresses);
        for (std::string a; std::getline(in, a, ';');) {
            tags.push_back(protocol.CreateTag(a.c_str()));
            own.push_back(static_cast<const Tag_QARN*>(tags.back()));
            ASSERT_NE(tags.back(), nullptr) << a << ": " << protocol.GetLastErrorString();
        }
        const std::vector<qarn::ScanGroup> groups = qarn::planScan(protocol, tags);
        std::vector<int> seen(tags.size(), 0);
        for (const qarn::ScanGroup& g : groups) {
            Tags members;
            for (const size_t i : g.tags) {
                ++seen.at(i);
                members.push_back(own[i]);
            }
            EXPECT_TRUE(mayShare(members)) << "group led by " << members.front()->GetVarName();
            EXPECT_EQ(g.byteOffset, members.front()->GetByteOffset());
            EXPECT_EQ(g.length, endOf(members) - g.byteOffset) << members.front()->GetVarName();
            EXPECT_EQ(g.onLine, !answeredByDriver(members.front()));
        }
        EXPECT_EQ(seen, std::vector<int>(tags.size(), 1));
        EXPECT_EQ(groups.size(), fewestRequests(own));
        EXPECT_TRUE(expected == 0 || groups.size() == expected) << groups.size() << " requests";
    }

    Protocol_QARN protocol;
};

TEST_F(ScanPlanner, MergesWhatTheRulesAllowAndNothingElse) {
    const std::pair<const char*, size_t> cases[] = {
        // EM24 reads 11 registers at most: a 12-register span is two requests.
        {"2?HREG?400001?unsignedShort;2?HREG?400011?unsignedShort", 1},
        {"2?HREG?400001?unsignedShort;2?HREG?400012?unsignedShort", 2},
        {"2?HREG?400001?short;2?HREG?400011?int", 2},  // a tag's last register counts
        // maxOptLen 20 allows 10 registers.
        {"4?HREG?400001?unsignedShort;4?HREG?400010?unsignedShort;4?HREG?400011?unsignedShort", 2},
        // Nodes and areas never share; coils and inputs are read one tag each.
        {"1?HREG?400001?short;4?HREG?400001?short;1?IREG?300001?short", 3},
        {"1?OUTP?1?boolean;1?OUTP?2?boolean;1?INP?100001?boolean-4;1?INP?100005?boolean", 4},
        // Node override tags stand alone.
        {"1?NO?0?unsignedByte;1?HREG?400001?short;2?NO?0?unsignedByte", 3},
        // Bytes and bits of one register merge with it, the same register twice too.
        {"1?HREG?400003.1?byte;1?HREG?400003?unsignedShort;1?HREG?400003.15?boolean;"
         "1?HREG?400003.0?unsignedByte;1?HREG?400004.3?boolean",
         1},
        // A string too long to share is read alone; its neighbours still merge.
        {"2?HREG?400001?short;2?HREG?400002?string-40;2?HREG?400003?short", 2},
    };
    for (const auto& [addresses, requests] : cases) {
        plan(addresses, requests);
    }
}

// Random tag sets over several nodes, models and areas, clustered so that the limits bind.
TEST_F(ScanPlanner, RandomTagSetsNeedNoMoreRequestsThanTheRulesForce) {
    const char* const types[] = {"short",   "unsignedShort", "int",       "float",   "double",
                                 "short-3", "string-12",     "string-30", "boolean", "byte"};
    std::mt19937 random(20240501);
    const auto pick = [&random](int n) {
        return std::uniform_int_distribution<int>(0, n - 1)(random);
    };
    for (int round = 0; round < 150 && !HasFailure(); ++round) {
        std::string addresses;
        for (int i = 3 + pick(10); i > 0; --i) {
            const int node = 1 + pick(5), kind = pick(10);
            const std::string type = types[pick(10)], n = ";" + std::to_string(node);
            if (kind == 0 && node % 3 == 1) {  // nodes 1 and 4 have coils
                addresses += n + "?OUTP?" + std::to_string(1 + pick(20)) + "?boolean";
            } else if (kind == 1) {
                addresses += n + "?NO?0?unsignedByte";
            } else if (kind == 2 && node != 5) {
                addresses += n + "?IREG?" + std::to_string(300001 + pick(30)) + "?short";
            } else {
                const int bit = type == "boolean" ? pick(16) : type == "byte" ? pick(2) : -1;
                addresses += n + "?HREG?" + std::to_string(400001 + pick(node == 3 ? 140 : 30)) +
                             (bit >= 0 ? "." + std::to_string(bit) : "") + "?" + type;
            }
        }
        plan(addresses.substr(1));
    }
}

}  // namespace
