// The scan planner against the real driver: every plan is checked against limits worked out from
// the tags' own fields (node, function code, register span, the model's block read count and
// the node's maxOptLen), and its request count against the least that those limits allow.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "MemoryType.h"
#include "ParamManager.h"
#include "ProtUtilsN.h"
#include "Protocol_QARN.h"
#include "ScanPlanner.h"
#include "Tag_QARN.h"

namespace {

using qarn::ScanGroup;

// Node 1 GenericModbus (HREG 15 per request, IREG 11), node 2 EM24 (HREG 11), node 3 WM40
// (HREG 125, so maxOptLen 256 = 128 registers does not bind), node 4 GenericModbus with
// maxOptLen 20 (10 registers), node 5 ISMG1xx.
const char* const Config =
    "CfgVer=1 uart=com1 baudrate=9600 parity=none bits=8 stopbits=1 mode=RS-485 "
    "defNodeId=1 model=GenericModbus Node2::defNodeId=2 Node2::model=EM24 "
    "Node3::defNodeId=3 Node3::model=WM40 Node4::defNodeId=4 Node4::model=GenericModbus "
    "Node4::maxOptLen=20 Node5::defNodeId=5 Node5::model=ISMG1xx";

// The bytes one tag occupies in its area's raw image.
int endOf(const Tag_QARN* t) {
    return t->GetByteOffset() + t->PackedLen();
}

bool bitArea(const Tag_QARN* t) {
    return ProtUtilsN::IsBitType(t->getMemoryType()->getNaturalType());
}

bool answeredByDriver(const Tag_QARN* t) {
    return t->getMemoryType()->isNamed("NO") || t->getMemoryType()->isNamed("SL");
}

class ScanPlanner : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(protocol.Config(Config)) << protocol.GetLastErrorString(); }
    void TearDown() override { protocol.DeleteTags(); }

    std::vector<const ITag*> make(const std::vector<std::string>& addresses) {
        std::vector<const ITag*> tags;
        for (const std::string& a : addresses) {
            const ITag* t = protocol.CreateTag(a.c_str());
            EXPECT_NE(t, nullptr) << a << ": " << protocol.GetLastErrorString();
            if (t != nullptr) {
                tags.push_back(t);
            }
        }
        return tags;
    }

    static const Tag_QARN* own(const ITag* t) { return static_cast<const Tag_QARN*>(t); }

    // The registers (or bits) the leader's ReadBlock asks for when it covers `members`.
    static long itemsRead(const std::vector<const Tag_QARN*>& members) {
        const Tag_QARN* lead = members.front();
        if (bitArea(lead)) {
            return lead->GetVarLength();
        }
        const int L = ProtUtilsN::GetDataLength(lead->getMemoryType()->getNaturalType());
        int end = 0;
        for (const Tag_QARN* m : members) {
            end = std::max(end, endOf(m));
        }
        return (end - lead->getOffset() * L + L - 1) / L;
    }

    // Whether these tags, led by the first, may share one request: one node and function, a
    // leader no later than any member, and a request within the block read count and maxOptLen.
    static bool mayShare(const std::vector<const Tag_QARN*>& members) {
        const Tag_QARN* lead = members.front();
        if (members.size() == 1) {
            return true;
        }
        if (bitArea(lead) || answeredByDriver(lead)) {
            return false;
        }
        for (const Tag_QARN* m : members) {
            if (m->getNodeId() != lead->getNodeId() || m->getReadCode() != lead->getReadCode() ||
                m->GetByteOffset() < lead->GetByteOffset()) {
                return false;
            }
        }
        const int L = ProtUtilsN::GetDataLength(lead->getMemoryType()->getNaturalType());
        const long limit = std::min<long>(lead->getNodeParams()->maxOptLen / L,
                                          lead->getMemoryType()->getBlockReadCount());
        return itemsRead(members) <= limit;
    }

    // The fewest requests the merge rules allow: tags of different nodes or functions never
    // share, so each such part is covered on its own by an exhaustive search over its subsets.
    static size_t fewestRequests(const std::vector<const ITag*>& tags) {
        std::map<std::pair<int, int>, std::vector<const Tag_QARN*>> parts;
        for (const ITag* t : tags) {
            parts[{own(t)->getNodeId(), own(t)->getReadCode() * 2 + (answeredByDriver(own(t)))}]
                .push_back(own(t));
        }
        size_t total = 0;
        for (auto& [key, part] : parts) {
            std::sort(part.begin(), part.end(), [](const Tag_QARN* a, const Tag_QARN* b) {
                return a->GetByteOffset() < b->GetByteOffset();
            });
            const size_t n = part.size();
            EXPECT_LE(n, 14U) << "part too large for the exhaustive search";
            const unsigned all = (1u << n) - 1;
            std::vector<bool> valid(all + 1, false);
            for (unsigned mask = 1; mask <= all; ++mask) {
                std::vector<const Tag_QARN*> members;
                for (size_t i = 0; i < n; ++i) {
                    if (mask & (1u << i)) {
                        members.push_back(part[i]);
                    }
                }
                valid[mask] = mayShare(members);
            }
            std::vector<size_t> best(all + 1, n + 1);
            best[0] = 0;
            for (unsigned mask = 1; mask <= all; ++mask) {
                const unsigned low = mask & (~mask + 1);
                for (unsigned sub = mask; sub != 0; sub = (sub - 1) & mask) {
                    if ((sub & low) != 0 && valid[sub]) {
                        best[mask] = std::min(best[mask], best[mask ^ sub] + 1);
                    }
                }
            }
            total += best[all];
        }
        return total;
    }

    // Every tag in exactly one group, each group a request the rules allow, the group's bytes
    // covering its tags, and no more requests than needed.
    void checkPlan(const std::vector<const ITag*>& tags, const std::vector<ScanGroup>& plan,
                   const std::string& what) {
        SCOPED_TRACE(what);
        std::vector<int> seen(tags.size(), 0);
        for (const ScanGroup& g : plan) {
            ASSERT_FALSE(g.tags.empty());
            std::vector<const Tag_QARN*> members;
            for (const size_t i : g.tags) {
                ASSERT_LT(i, tags.size());
                ++seen[i];
                members.push_back(own(tags[i]));
            }
            const Tag_QARN* lead = members.front();
            EXPECT_TRUE(mayShare(members)) << "group led by " << lead->GetVarName();
            EXPECT_EQ(g.byteOffset, lead->GetByteOffset());
            int end = 0;
            for (const Tag_QARN* m : members) {
                end = std::max(end, endOf(m));
            }
            EXPECT_EQ(g.length, end - g.byteOffset) << lead->GetVarName();
            EXPECT_EQ(g.onLine, !answeredByDriver(lead));
        }
        for (size_t i = 0; i < tags.size(); ++i) {
            EXPECT_EQ(seen[i], 1) << tags[i]->GetVarName();
        }
        EXPECT_EQ(plan.size(), fewestRequests(tags));
    }

    Protocol_QARN protocol;
};

struct PlanCase {
    const char* what;
    std::vector<std::string> addresses;
    size_t requests;
};

TEST_F(ScanPlanner, MergesWhatTheRulesAllowAndNothingElse) {
    const PlanCase cases[] = {
        {"neighbours on one node merge", {"1?HREG?400001?short", "1?HREG?400002?short"}, 1},
        {"given in any order",
         {"1?HREG?400009?int", "1?HREG?400001?short", "1?HREG?400005?float"},
         1},
        {"EM24 reads 11 registers at most",
         {"2?HREG?400001?unsignedShort", "2?HREG?400011?unsignedShort"},
         1},
        {"a 12-register span is two requests",
         {"2?HREG?400001?unsignedShort", "2?HREG?400012?unsignedShort"},
         2},
        {"maxOptLen 20 allows 10 registers",
         {"4?HREG?400001?unsignedShort", "4?HREG?400010?unsignedShort",
          "4?HREG?400011?unsignedShort"},
         2},
        {"WM40 reads up to 125 registers",
         {"3?HREG?400001?short", "3?HREG?400060?int", "3?HREG?400124?short"},
         1},
        {"a tag's last register counts", {"2?HREG?400001?short", "2?HREG?400011?int"}, 2},
        {"nodes never share", {"1?HREG?400001?short", "4?HREG?400001?short"}, 2},
        {"areas never share", {"1?HREG?400001?short", "1?IREG?300001?short"}, 2},
        {"coils and inputs are read one tag each",
         {"1?OUTP?1?boolean", "1?OUTP?2?boolean", "1?INP?100001?boolean-4", "1?INP?100005?boolean"},
         4},
        {"node override tags stand alone",
         {"1?NO?0?unsignedByte", "1?HREG?400001?short", "2?NO?0?unsignedByte"},
         3},
        {"bytes and bits of one register merge with it",
         {"1?HREG?400003.1?byte", "1?HREG?400003?unsignedShort", "1?HREG?400003.15?boolean",
          "1?HREG?400003.0?unsignedByte", "1?HREG?400004.3?boolean"},
         1},
        {"a string too long to share is read alone; its neighbours still merge",
         {"2?HREG?400001?short", "2?HREG?400002?string-40", "2?HREG?400003?short"},
         2},
        {"the same register twice", {"1?IREG?300007?short", "1?IREG?300007?unsignedShort"}, 1},
        {"blanks around the fields", {"1?HREG?400001?short", " 1 ? HREG ? 400002 ? short "}, 1},
        {"ISMG holding registers", {"5?HREG?400001?short", "5?HREG?400015?short"}, 1},
    };
    for (const PlanCase& c : cases) {
        const std::vector<const ITag*> tags = make(c.addresses);
        ASSERT_EQ(tags.size(), c.addresses.size()) << c.what;
        const std::vector<ScanGroup> plan = qarn::planScan(protocol, tags);
        EXPECT_EQ(plan.size(), c.requests) << c.what;
        checkPlan(tags, plan, c.what);
        protocol.DeleteTags();
    }
}

// Random tag sets over several nodes, models and areas, clustered so that the limits bind.
TEST_F(ScanPlanner, RandomTagSetsNeedNoMoreRequestsThanTheRulesForce) {
    const char* const types[] = {"short",   "unsignedShort", "int",       "float",   "double",
                                 "short-3", "string-12",     "string-30", "boolean", "byte"};
    std::mt19937 random(20240501);
    auto pick = [&random](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
    for (int round = 0; round < 150; ++round) {
        std::vector<std::string> addresses;
        const int count = 3 + pick(10);
        for (int i = 0; i < count; ++i) {
            const int node = 1 + pick(5);
            const int kind = pick(10);
            std::string address = std::to_string(node);
            if (kind == 0 && (node == 1 || node == 4)) {
                address += "?OUTP?" + std::to_string(1 + pick(20)) + "?boolean";
            } else if (kind == 1) {
                address += "?NO?0?unsignedByte";
            } else if (kind == 2 && node != 5) {
                address += "?IREG?" + std::to_string(300001 + pick(30)) + "?short";
            } else {
                const std::string type = types[pick(10)];
                std::string sub;
                if (type == "boolean") {
                    sub = "." + std::to_string(pick(16));
                } else if (type == "byte") {
                    sub = "." + std::to_string(pick(2));
                }
                address += "?HREG?" + std::to_string(400001 + pick(node == 3 ? 140 : 30)) + sub +
                           "?" + type;
            }
            addresses.push_back(address);
        }
        const std::vector<const ITag*> tags = make(addresses);
        ASSERT_EQ(tags.size(), addresses.size());
        std::string what = "round " + std::to_string(round) + ":";
        for (const std::string& a : addresses) {
            what += " " + a;
        }
        checkPlan(tags, qarn::planScan(protocol, tags), what);
        protocol.DeleteTags();
        if (HasFailure()) {
            return;
        }
    }
}

}  // namespace
