// The tool's help for people on the command line: a mistyped command, a console script that goes
// on after a failed line, poll's request plan without a device, and cycles that overrun the
// interval against `qarn simulate` on a pty pair.

#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "TempDir.h"
#include "ToolProcess.h"

namespace {

TEST(CommandLineTool, AMistypedCommandIsRefusedWithTheNearestOne) {
    const std::pair<const char*, const char*> cases[] = {
        {"raed", "qarn: unknown command 'raed'; did you mean 'read'?\n"},
        {"simulat", "qarn: unknown command 'simulat'; did you mean 'simulate'?\n"},
        {"pol", "qarn: unknown command 'pol'; did you mean 'poll'?\n"},
        {"xyzzy", "qarn: unknown command 'xyzzy'\n"},
    };
    for (const auto& [typed, message] : cases) {
        const ToolResult r = runTool({typed, "1?HREG?400001?short"});
        EXPECT_EQ(r.status, 2) << typed;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, std::string(message) + "Run 'qarn --help' for the commands.\n");
    }
}

TEST(CommandLineTool, APipedConsoleGoesOnAfterAFailedLineAndFailsAtTheEnd) {
    TempDir dir;
    const ToolResult r = runTool({"console", "--store", dir.file("store.ini")},
                                 "help\nfrobnicate\ngetid\nsetid 300 1\ninfo\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("no node configurated"), std::string::npos) << "getid ran: " << r.out;
    EXPECT_NE(r.out.find("Protocol: QARN"), std::string::npos) << "info ran: " << r.out;
    EXPECT_NE(r.err.find("unknown console command 'frobnicate'"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("qarn console: 2 of 5 commands failed (the first on line 2)\n"),
              std::string::npos)
        << r.err;

    EXPECT_EQ(runTool({"console", "--store", dir.file("store.ini")}, "help\ngetid\n").status, 0);
}

TEST(CommandLineTool, PollPlanShowsEveryRequestWithoutADevice) {
    TempDir dir;
    const std::vector<std::string> tags = {"a=1?HREG?400001?short", "b=1?HREG?400002?float",
                                           "c=1?OUTP?10001?boolean", "d=1?IREG?300010.1?string-3",
                                           "e=1?NO?0?unsignedByte"};
    std::vector<std::string> args = {"poll",     "--plan", "--store", dir.file("store.ini"),
                                     "--format", "jsonl"};
    args.insert(args.end(), tags.begin(), tags.end());
    ToolResult r = runTool(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json plan = nlohmann::json::parse(r.out);
    const std::vector<std::string> expected = {"1 3 0 400001 3 a b", "1 - - - - e",
                                               "1 2 0 100001 1 c", "1 4 9 300010 2 d"};
    ASSERT_EQ(plan.size(), expected.size()) << plan;
    for (size_t i = 0; i < plan.size(); ++i) {
        std::string row = plan[i]["node"].dump();
        for (const char* key : {"function", "start", "address", "count"}) {
            row += " " + (plan[i][key].is_null() ? std::string("-") : plan[i][key].dump());
        }
        EXPECT_EQ(row + " " + plan[i]["tags"].get<std::string>(), expected[i]);
        EXPECT_EQ(plan[i]["request"], i + 1);
    }

    // A table for people by default; the model's request size is kept without a line.
    r = runTool({"poll", "--plan", "--store", dir.file("store.ini"), "--model", "EM24",
                 "1?HREG?400001?short", "1?HREG?400012?short"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream lines(r.out);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "2 tags in 2 reads (2 on the line):");
    std::getline(lines, line);
    EXPECT_EQ(line.substr(0, line.find(' ')), "request");
    std::getline(lines, line);
    EXPECT_NE(line.find("read holding registers"), std::string::npos) << line;
}

TEST(CommandLineTool, PollNotesCyclesThatOverrunTheInterval) {
    TempDir dir;
    // Every answer 60 ms late: a cycle takes longer than an interval of 30 ms.
    ToolProcess simulator(
        {"simulate", "--pty", "--slave", "1:generic", "--no-pace", "--latency-ms", "60"});
    const std::string device = simulator.line();
    const auto poll = [&](const std::string& interval, const std::string& count,
                          const std::string& format) {
        return runTool({"poll", "--device", device, "--store", dir.file("store.ini"), "--interval",
                        interval, "--count", count, "--format", format,
                        "1?HREG?400001?unsignedShort"});
    };
    ToolResult r = poll("30", "2", "jsonl");
    ASSERT_EQ(r.status, 0) << r.err;
    int summaries = 0;
    std::istringstream out(r.out);
    for (std::string line; std::getline(out, line);) {
        const nlohmann::json j = nlohmann::json::parse(line);
        if (j.contains("summary")) {
            ++summaries;
            EXPECT_EQ(j["summary"]["overrun"], true) << line;
        }
    }
    EXPECT_EQ(summaries, 2);
    EXPECT_NE(r.err.find("qarn poll: 2 cycles took longer than the --interval of 30 ms\n"),
              std::string::npos)
        << r.err;

    r = poll("30", "1", "table");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(", over the 30 ms interval (1 cycle so far), at "), std::string::npos)
        << r.out;

    // Well inside a long interval: no note.
    r = poll("20000", "1", "jsonl");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"overrun\":false"), std::string::npos) << r.out;
    EXPECT_EQ(r.err.find("longer than"), std::string::npos) << r.err;
}

}  // namespace
