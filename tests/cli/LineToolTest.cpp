// What the tool makes of a real line's troubles, against `qarn simulate`: an adapter that echoes
// the requests, and a device that goes away and comes back under the same name.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "TempDir.h"
#include "ToolProcess.h"

namespace {

using Args = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

// `qarn simulate` with a generic device at node 1; `extra` adds options.
std::unique_ptr<ToolProcess> simulate(const Args& extra) {
    Args args = {"simulate", "--pty", "--slave", "1:generic", "--baud", "38400", "--no-pace"};
    args.insert(args.end(), extra.begin(), extra.end());
    return std::make_unique<ToolProcess>(args);
}

Args line(const std::string& device, const TempDir& dir) {
    return {"--device", device,     "--baud", "38400",   "--timeout",
            "150",      "--repeat", "1",      "--store", dir.file("store.ini")};
}

TEST(LineTool, OnAnEchoingLineAWriteIsAnsweredByTheSlaveNeverByItsOwnEcho) {
    TempDir dir;
    const std::unique_ptr<ToolProcess> simulator = simulate({"--echo"});
    const std::string device = simulator->line();
    ASSERT_FALSE(device.empty());
    const struct {
        Args args;
        int status;
        const char* says;
        bool written;
    } cases[] = {
        // Node 9 is absent: only the echo comes back, which a write's answer would look like.
        {{"write", "9?HREG?400001?unsignedShort", "7"}, 1, "(echo only, no answer)", false},
        {{"write", "--echo", "on", "9?OUTP?1?boolean", "1"}, 1, "(echo only, no answer)", false},
        {{"console", "write", "9?HREG?400001?unsignedShort", "0700"},
         0,
         "the line: echo not yet known: read once first, or give --echo on|off",
         false},
        {{"read", "9?HREG?400001?unsignedShort"}, 1, "(echo only, no answer)", false},
        // Node 1 answers: qarn write reads first, which settles the echo question.
        {{"write", "1?HREG?400001?unsignedShort", "7"}, 0, "= 7 written\n", true},
        {{"read", "--echo", "on", "1?HREG?400001?unsignedShort"}, 0, "= 7\n", false},
    };
    for (const auto& c : cases) {
        Args args = c.args;
        const Args common = line(device, dir);
        args.insert(args.end(), common.begin(), common.end());
        const ToolResult r = runTool(args);
        SCOPED_TRACE(args[0] + " " + args[1] + "\n" + r.out + r.err);
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE((r.out + r.err).find(c.says), std::string::npos);
        EXPECT_EQ(r.out.find("written") != std::string::npos, c.written);
    }
}

// One jsonl row of a polled tag: whether it was read, and the error text when not.
struct Row {
    bool ok = false;
    std::string error;
};

// The next tag row of a poll's output (summary rows skipped); nullopt-like `ended` at the end.
bool nextRow(ToolProcess& poll, Row& row) {
    for (std::string text = poll.line(); !text.empty(); text = poll.line()) {
        const nlohmann::json j = nlohmann::json::parse(text);
        if (!j.contains("summary")) {
            row.ok = j.contains("value");
            row.error = j.contains("error") ? j["error"]["text"].get<std::string>() : "";
            return true;
        }
    }
    return false;
}

TEST(LineTool, PollOnAGoneDeviceNamesTheReasonWithoutSpinningAndRecoversWhenItIsBack) {
    TempDir dir;
    const std::string link = dir.file("line");
    std::unique_ptr<ToolProcess> simulator = simulate({"--link", link});
    ASSERT_FALSE(simulator->line().empty());
    Args args = {"poll", "--interval", "0", "--format", "jsonl", "1?HREG?400001?unsignedShort"};
    const Args common = line(link, dir);
    args.insert(args.end(), common.begin(), common.end());
    ToolProcess poll(args);
    Row row;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(nextRow(poll, row));
        ASSERT_TRUE(row.ok) << row.error;
    }

    simulator->finish(SIGTERM);  // the pty and the link go
    const Clock::time_point gone = Clock::now();
    int failed = 0;
    while (Clock::now() - gone < std::chrono::seconds(4)) {
        ASSERT_TRUE(nextRow(poll, row));
        if (!row.ok) {
            ++failed;
            EXPECT_NE(row.error.find("(device gone: "), std::string::npos) << row.error;
        }
    }
    // Each failed request waits out the port's back-off of one second before it tries again.
    EXPECT_GE(failed, 2);
    EXPECT_LE(failed, 8) << "the poll spins on a gone device";

    simulator = simulate({"--link", link});
    ASSERT_FALSE(simulator->line().empty());
    const Clock::time_point back = Clock::now();
    do {
        ASSERT_TRUE(nextRow(poll, row));
    } while (!row.ok && Clock::now() - back < std::chrono::seconds(5));
    EXPECT_TRUE(row.ok);
    EXPECT_LT(Clock::now() - back, std::chrono::milliseconds(2000));
    poll.finish(SIGINT);
}

}  // namespace
