// The tool's help for people on the command line: a mistyped command, a console script that goes
// on after a failed line, poll's request plan without a device, and cycles that overrun the
// interval against `qarn simulate` on a pty pair.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "TempDir.h"
#include "ToolProcess.h"

namespace {

TEST(CommandLineTool, AMistypedCommandIsRefusedWithTheNearestOne) {
    const std::pair<const char*, const char*> cases[] = {
        {"raed", "; did you mean 'read'?"},
        {"simulat", "; did you mean 'simulate'?"},
        {"pol", "; did you mean 'poll'?"},
        {"xyzzy", ""},
    };
    for (const auto& [typed, meant] : cases) {
        const ToolResult r = runTool({typed, "1?HREG?400001?short"});
        EXPECT_EQ(std::make_pair(r.status, r.out), std::make_pair(2, std::string()));
        EXPECT_EQ(r.err, "qarn: unknown command '" + std::string(typed) + "'" + meant +
                             "\nRun 'qarn --help' for the commands.\n");
    }
}

TEST(CommandLineTool, APipedConsoleGoesOnAfterAFailedLineAndFailsAtTheEnd) {
    TempDir dir;
    const ToolResult r = runTool({"console", "--store", dir.file("store.ini")},
                                 "help\nfrobnicate\ngetid\nsetid 300 1\ninfo\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("no node configurated\nProtocol: QARN"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("qarn console: 2 of 5 commands failed (the first on line 2)\n"),
              std::string::npos)
        << r.err;
}

TEST(CommandLineTool, PollPlanShowsEveryRequestWithoutADevice) {
    TempDir dir;
    const ToolResult r =
        runTool({"poll", "--plan", "--store", dir.file("store.ini"), "--format", "jsonl",
                 "a=1?HREG?400001?short", "b=1?HREG?400002?float", "c=1?OUTP?10001?boolean",
                 "d=1?IREG?300010.1?string-3", "e=1?NO?0?unsignedByte"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string rows;
    for (const nlohmann::json& row : nlohmann::json::parse(r.out)) {
        for (const char* key : {"request", "node", "function", "start", "address", "count"}) {
            rows += (row[key].is_null() ? std::string("-") : row[key].dump()) + " ";
        }
        rows += row["tags"].get<std::string>() + "\n";
    }
    EXPECT_EQ(rows,
              "1 1 3 0 400001 3 a b\n2 1 - - - - e\n3 1 2 0 100001 1 c\n4 1 4 9 300010 2 d\n");
}

TEST(CommandLineTool, PollNotesCyclesThatOverrunTheInterval) {
    TempDir dir;
    // Every second answer 1.5 s late: the second cycle of each poll overruns 1 s.
    ToolProcess simulator({"simulate", "--pty", "--slave", "1:generic", "--no-pace",
                           "--delay-every", "2", "--delay-ms", "1500"});
    std::vector<std::string> args = {
        "poll",       "--device", simulator.line(), "--store", dir.file("store.ini"),
        "--interval", "1000",     "--count",        "2",       "1?HREG?400001?unsignedShort",
        "--format"};
    args.push_back("jsonl");
    ToolResult r = runTool(args);
    ASSERT_EQ(r.status, 0) << r.err;
    std::string overruns;
    std::istringstream out(r.out);
    for (std::string line; std::getline(out, line);) {
        const nlohmann::json j = nlohmann::json::parse(line);
        overruns += j.contains("summary") ? j["summary"]["overrun"].dump() + " " : "";
    }
    EXPECT_EQ(overruns, "false true ");
    EXPECT_NE(r.err.find("qarn poll: 1 cycle took longer than the --interval of 1000 ms\n"),
              std::string::npos)
        << r.err;

    args.back() = "table";
    r = runTool(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const size_t note = r.out.find("cycle 2/2: 1 request, 0 failed, ");
    ASSERT_NE(note, std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" ms, over the 1000 ms interval (1 cycle so far), at ", note),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("over the"), r.out.find("over the", note)) << "cycle 1 has no note";
}

}  // namespace
