// The node guard and the store's safeguards as a user meets them: qarn against `qarn simulate`
// on a pty pair, the tool's own trace telling which frames went on the line and to which node.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "TempDir.h"
#include "ToolProcess.h"

namespace {

using Args = std::vector<std::string>;

const char* const Tag3 = "3?HREG?400001?unsignedShort";

class GuardTool : public ::testing::Test {
  protected:
    void SetUp() override {
        simulator = std::make_unique<ToolProcess>(Args{"simulate", "--pty", "--slave", "1:generic",
                                                       "--slave", "3:generic", "--baud", "38400",
                                                       "--no-pace"});
        device = simulator->line();
        ASSERT_FALSE(device.empty());
    }

    // Runs qarn with the test's store, on the simulated line unless `line` is false; `sent`
    // then holds the frames it sent, as its trace decodes them.
    ToolResult run(Args args, bool line = true) {
        const std::string trace = dir.file("trace" + std::to_string(++runs));
        args.insert(args.end(), {"--store", store});
        if (line) {
            args.insert(args.end(), {"--device", device, "--baud", "38400", "--timeout", "200",
                                     "--repeat", "0", "--trace=" + trace});
        }
        const ToolResult r = runTool(args);
        sent.clear();
        const std::string text = TempDir::read(trace);
        for (size_t at = text.find(" TX "); at != std::string::npos;
             at = text.find(" TX ", at + 1)) {
            const size_t summary = text.find("| ", at) + 2;
            sent += text.substr(summary, text.find(',', summary) - summary) + ";";
        }
        return r;
    }

    TempDir dir;
    std::string store = dir.file("store.ini");
    std::unique_ptr<ToolProcess> simulator;  // ends before its folder goes
    std::string device;
    std::string sent;  // "node 3;node 3;" for two frames to node 3
    int runs = 0;
};

struct GuardCase {
    const char* store;  // hand-written store text; null: none
    Args args;
    int status;
    const char* says;  // on standard output or error
    const char* sent;  // frames on the line
};

const GuardCase GuardCases[] = {
    {nullptr, {"write", "256?HREG?400001?unsignedShort", "5"}, 2, "node 256 is out of range", ""},
    {nullptr, {"write", "x?HREG?400001?unsignedShort", "5"}, 2, "'x' is not a node number", ""},
    {nullptr, {"read", "0x1FF?HREG?400001?unsignedShort"}, 2, "low byte, 255)", ""},
    {"[QARN]\ntempNode3=0x102\n", {"write", Tag3, "5"}, 2, "target '0x102': node 258", ""},
    {"[QARN]\ntempNode3=\n", {"write", Tag3, "5"}, 2, "target '' is not a node number", ""},
    {"[QARN]\ntempNode3=abc\n", {"read", Tag3}, 2, "target 'abc' is not a node number", ""},
    {"[QARN]\ntempNode3=abc\n", {"poll", "--count", "1", Tag3}, 2, "'abc' is not a node", ""},
    {"[QARN]\ntempNode3=0\n", {"write", Tag3, "5"}, 2, "give --broadcast", ""},
    {"[QARN]\ntempNode3=255\n", {"read", Tag3}, 1, "error -10: Node disabled", ""},
    {"[QARN]\ntempNode3=1\n", {"write", Tag3, "5"}, 0, "written", "node 1;node 1;"},
    {nullptr, {"write", "0?HREG?400001?unsignedShort", "5"}, 2, "give --broadcast", ""},
    {nullptr,
     {"write", "--broadcast", "0?HREG?400001?unsignedShort", "5"},
     0,
     "written",
     "node 0;"},
    {nullptr, {"read", "0?HREG?400001?unsignedShort"}, 1, "Broadcast request", ""},
    {nullptr, {"write", "1?NO?0?unsignedByte", "250"}, 2, "node 250 is reserved", ""},
    {nullptr, {"console", "write", "256?HREG?400001?unsignedShort", "0500"}, 2, "low byte", ""},
    {nullptr, {"console", "read", Tag3}, 0, "0500", "node 3;"},  // the broadcast's 5
    {"[QARN]\ntempNode3=0x102\n",
     {"console", "getid"},
     0,
     "id 3 -> 258\nnote: tempNode3=0x102",
     ""},
};

TEST_F(GuardTool, RefusedNodesSendNothingAndAllowedOnesGoWhereTheyPoint) {
    for (const GuardCase& c : GuardCases) {
        unlink(store.c_str());
        if (c.store != nullptr) {
            TempDir::write(store, c.store);
        }
        const ToolResult r = run(c.args);
        SCOPED_TRACE(c.args[0] + " " + c.args[1] + (c.store != nullptr ? c.store : "") + "\n" +
                     r.out + r.err);
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE((r.out + r.err).find(c.says), std::string::npos);
        EXPECT_EQ(sent, c.sent);
        if (c.status == 2) {
            EXPECT_NE(r.err.find(": refused, nothing "), std::string::npos);
        }
    }
    // Only the write that asked for it went out as a broadcast.
    EXPECT_NE(simulator->finish(SIGTERM).err.find(", 1 broadcasts,"), std::string::npos);
}

TEST_F(GuardTool, SetIdToANodeThatWouldBeCutIsRefusedAndTheNodeKeepsItsAddress) {
    for (const char* target : {"256", "0x102", "250", "-1", "abc"}) {
        const ToolResult r = run({"console", "setid", "3", target});
        EXPECT_EQ(r.status, 2) << target << r.err;
        EXPECT_EQ(r.out, "") << target;
        EXPECT_NE(r.err.find("setid 3 " + std::string(target) + ": refused"), std::string::npos);
    }
    EXPECT_EQ(access(store.c_str(), F_OK), -1) << "nothing stored";
    ToolResult r = run({"write", Tag3, "7"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(sent, "node 3;node 3;") << "read (for the echo), then written";
    r = run({"console", "setid", "3", "255"});  // disabled: the plug-in refuses its requests
    EXPECT_EQ(r.out, "id 3 set to 255\n");
    r = run({"console", "setid", "3", "0"});  // back to itself
    EXPECT_EQ(r.out, "id 3 set to 3\n");
}

TEST_F(GuardTool, DamagedStoreKeepsTheToolOffTheLineUntilResetKeepsACopy) {
    ASSERT_EQ(run({"console", "setid", "3", "1"}).status, 0);
    std::string text = TempDir::read(store);
    ASSERT_NE(text.find("tempNode3=1\n"), std::string::npos) << "setid is stored for later runs";
    text.replace(text.find("tempNode3=1"), 11, "tempNode3=7");
    TempDir::write(store, text);

    ToolResult r = run({"read", Tag3});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("the store is not usable: " + store + ": damaged store, checksum"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("--store-reset"), std::string::npos);
    EXPECT_EQ(sent, "");
    r = run({"console", "setid", "4", "5"}, false);  // off the line: runs, but saves nothing
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("changes are refused until the store is reset"), std::string::npos);

    r = run({"read", "--store-reset", Tag3});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(sent, "node 3;") << "the override is gone with the store";
    const std::string moved = "moved aside to " + store + ".bad-";
    const size_t at = r.err.find(moved);
    ASSERT_NE(at, std::string::npos) << r.err;
    const std::string kept = r.err.substr(at + 15, r.err.find(';', at) - at - 15);
    EXPECT_EQ(TempDir::read(kept), text);
    EXPECT_EQ(run({"read", Tag3}).status, 0);
}

TEST_F(GuardTool, AChangeTheStoreCouldNotSaveFailsWithTheSystemsReason) {
    TempDir::write(dir.file("file"), "");
    ASSERT_EQ(mkdir(dir.file("folder").c_str(), 0755), 0);
    ASSERT_EQ(symlink(dir.file("gone").c_str(), dir.file("link").c_str()), 0);
    const struct {
        std::string store;
        Args args;
        bool line;
        const char* reason;
    } cases[] = {
        {dir.file("file/store.ini"), {"console", "setid", "3", "44"}, false, "Not a directory"},
        {dir.file("folder"), {"console", "setid", "3", "44"}, false, "Is a directory"},
        {dir.file("link/store.ini"), {"console", "setid", "3", "44"}, true, "No such file"},
        {dir.file("link/store.ini"), {"write", "3?NO?0?unsignedByte", "44"}, true, "No such file"},
    };
    for (const auto& c : cases) {
        store = c.store;
        const ToolResult r = run(c.args, c.line);
        SCOPED_TRACE(c.store + " " + c.args[0] + "\n" + r.err);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, c.args[0] == "console" ? "id 3 set to 44\n" : "");
        EXPECT_NE(r.err.find("not saved: "), std::string::npos);
        EXPECT_NE(r.err.find(c.reason), std::string::npos);
        EXPECT_EQ(r.err.find("warning: a change of the store was lost"), std::string::npos);
    }
}

}  // namespace
