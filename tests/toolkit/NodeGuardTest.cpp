// The node guard: what it refuses before the plug-in, which would put only the low byte of a
// node id on the line, and how it finds the override the plug-in restores from the store. The
// tool's own tests (tests/cli) run the common cases end to end.

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <qarn/toolkit/NodeGuard.h>

#include "MemoryStore.h"

namespace {

using qarn::NodeGuard;
using qarn::TagAccess;
using Stored = std::vector<std::pair<std::string, std::string>>;

constexpr TagAccess R = TagAccess::Read;
constexpr TagAccess W = TagAccess::Write;

struct TagCase {
    const char* address;
    Stored stored;  // section QARN, in this order
    TagAccess access;
    bool broadcast;
    const char* problem;  // part of the reason; null: allowed
};

// How a node text reads and which numbers pass (hex, octal, reserved, out of range) is the wire
// library's table; here, what the guard adds around it.
const TagCase TagCases[] = {
    {"1?HREG?400001?short", {}, W, false, nullptr},
    {" 7\t?HREG?400001?short", {}, W, false, nullptr},  // blanks go, as in the plug-in
    {"255?HREG?400001?short", {}, W, false, nullptr},   // the plug-in's "Node disabled"
    {"254?HREG?400001?short", {}, W, true, "node 254 is reserved"},
    {"0x101?HREG?400001?short", {}, W, true, "low byte, 1)"},
    {"3 4?HREG?400001?short", {}, R, false, "node '3 4' is not a node number"},
    {"0?HREG?400001?short", {}, R, false, nullptr},  // the plug-in refuses it itself
    {"0?HREG?400001?short", {}, W, true, nullptr},
    {"3?HREG?400001?short", {{"tempNode3", "0x102"}}, R, false, "node 258 is out of range"},
    {"0x3?HREG?400001?short", {{"tempNode3", "256"}}, W, true, "tempNode3 in [QARN] of s.ini"},
    {"3?HREG?400001?short", {{"tempNode3", "0"}}, R, false, nullptr},
    {"3?HREG?400001?short", {{"tempNode3", "0"}}, W, false, "give --broadcast"},
    {"3?HREG?400001?short", {{"tempNode3", "0"}}, W, true, nullptr},
    // The plug-in reads every key as a number and keeps the last one for a node.
    {"3?HREG?400001?short", {{"tempNode3", "5"}, {"tempNode03", "300"}}, R, false, "300"},
    {"3?HREG?400001?short", {{"tempNode03", "300"}, {"tempNode3", "5"}}, R, false, nullptr},
    {"0?HREG?400001?short", {{"tempNodeabc", "abc"}}, R, false, "'abc' is not a node number"},
    {"3?HREG?400001?short", {{"tempNode4", "abc"}, {"other3", "abc"}}, R, false, nullptr},
};

TEST(NodeGuard, RefusesNodesAndStoredOverridesThatThePluginWouldCutToTheirLowByte) {
    for (const TagCase& c : TagCases) {
        qarntest::MemoryStore store;
        for (const auto& [key, value] : c.stored) {
            store.put("QARN", key, value);
        }
        store.put("OTHER", "tempNode3", "abc");  // another instance's section
        const NodeGuard guard(&store, "QARN", "s.ini", c.broadcast);
        const std::string problem = guard.tagProblem(c.address, c.access);
        SCOPED_TRACE(std::string(c.address) + (c.access == W ? " write" : " read") +
                     (c.broadcast ? " --broadcast" : "") + ": " + problem);
        if (c.problem == nullptr) {
            EXPECT_EQ(problem, "");
        } else {
            EXPECT_NE(problem.find(c.problem), std::string::npos);
        }
    }
    const NodeGuard withoutStore(nullptr, "QARN", "", false);
    EXPECT_EQ(withoutStore.tagProblem("3?HREG?400001?short", W), "");
}

TEST(NodeGuard, SetIdAndOverrideWritesTakeOnlyUsableTargets) {
    const NodeGuard guard(nullptr, "QARN", "s.ini", false);
    // node, target, allowed: a target of 0 resets; both words are checked.
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"3", "44", true}, {"3", "0", true},     {"3", "255", true},
        {"0", "5", true},  {"0x3", "010", true}, {"3", "250", false},
        {"3", "", false},  {"256", "4", false},  {"abc", "4", false}};
    for (const auto& [node, target, allowed] : cases) {
        EXPECT_EQ(guard.setIdProblem(node, target).empty(), allowed) << node << " " << target;
    }
    // A write to the node-override area stores its value as it is: 0 redirects to a broadcast.
    EXPECT_NE(guard.targetProblem(0).find("--broadcast"), std::string::npos);
    EXPECT_EQ(NodeGuard(nullptr, "QARN", "", true).targetProblem(0), "");
    EXPECT_NE(guard.targetProblem(250).find("reserved"), std::string::npos);
    EXPECT_EQ(guard.targetProblem(44), "");
    EXPECT_TRUE(NodeGuard::isNodeOverride("3? NO ?0?unsignedByte"));
    EXPECT_FALSE(NodeGuard::isNodeOverride("3?HREG?400001?NO"));
}

TEST(NodeGuard, NotesEveryStoredOverrideThatRequestsWouldBeRefusedFor) {
    qarntest::MemoryStore store;
    for (const auto& [key, value] : Stored{{"tempNode3", "0x102"},
                                           {"tempNode4", "5"},
                                           {"tempNode5", ""},
                                           {"tempNodex", "7"},
                                           {"tempNode6", "255"},
                                           {"other", "abc"}}) {
        store.put("QARN", key, value);
    }
    const std::vector<std::string> notes =
        NodeGuard(&store, "QARN", "s.ini", false).storedProblems();
    ASSERT_EQ(notes.size(), 3U);
    EXPECT_EQ(notes[0].rfind("note: tempNode3=0x102 in [QARN] of s.ini: ", 0), 0U) << notes[0];
    EXPECT_NE(notes[0].find("'qarn console setid 3 0' removes"), std::string::npos) << notes[0];
    EXPECT_EQ(notes[1].rfind("note: tempNode5= in", 0), 0U) << notes[1];
    EXPECT_NE(notes[2].find("'x' is not a node number; the plug-in takes it as node 0"),
              std::string::npos)
        << notes[2];
}

}  // namespace
