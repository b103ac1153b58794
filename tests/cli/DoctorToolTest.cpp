// qarn doctor against `qarn simulate` and its line models: the latency it reports is the delay the
// simulator was given (plus the 3.5 characters of silence), and it sees echo, USB bursts and
// noise; Ctrl-C ends it with what was measured so far.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "TempDir.h"
#include "ToolProcess.h"

namespace {

using Args = std::vector<std::string>;
using nlohmann::json;

// A paced simulator at 9600 baud 8E1 (the defaults) with nodes 1 and 2; `extra` adds models.
std::unique_ptr<ToolProcess> simulate(const Args& extra) {
    Args args = {"simulate", "--pty", "--slave", "1:generic", "--slave", "2:EM24"};
    args.insert(args.end(), extra.begin(), extra.end());
    return std::make_unique<ToolProcess>(args);
}

Args doctor(const std::string& device, const TempDir& dir, const Args& extra) {
    Args args = {"doctor",    "--device", device,    "--store", dir.file("s.ini"),
                 "--timeout", "400",      "--nodes", "1,2"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

TEST(DoctorTool, MeasuresTheSimulatedLine) {
    const struct {
        Args models;
        double delayMs;  // 0: not checked
        bool echo;
        double burstMs;  // 0: no bursts
        bool noise;
    } cases[] = {
        // An unpaced pty answers before the request could have left a real line: still answers.
        {{"--no-pace"}, 0, false, 0, false},
        {{"--latency-ms", "100"}, 100, false, 0, false},
        {{"--delay-ms", "150", "--echo"}, 150, true, 0, false},
        {{"--burst-ms", "16"}, 0, false, 16, false},
        {{"--noise", "1"}, 0, false, 0, true},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const std::unique_ptr<ToolProcess> simulator = simulate(c.models);
        const std::string device = simulator->line();
        ASSERT_FALSE(device.empty());
        // Bursts show in answers that straddle a boundary: more reads find more of them.
        const std::string count = c.burstMs > 0 ? "40" : "20";
        const ToolResult r = runTool(doctor(device, dir, {"--count", count, "--format", "json"}));
        SCOPED_TRACE(c.models[0] + "\n" + r.out + r.err);
        ASSERT_EQ(r.status, 0);
        const json j = json::parse(r.out);
        EXPECT_EQ(j["transactions"], std::stoi(count));
        EXPECT_EQ(j["failed_transactions"], 0);
        EXPECT_EQ(j["answers"], std::stoi(count));
        if (c.delayMs > 0) {
            const double median = j["latency_ms"]["median"].get<double>();
            EXPECT_GE(median, c.delayMs);
            EXPECT_LE(median, c.delayMs * 1.1);
            EXPECT_GE(j["latency_ms"]["min"].get<double>(), c.delayMs);
            // The time-out it recommends covers the slowest answer.
            EXPECT_GT(j["recommended"]["timeout"]["value"].get<int>(),
                      j["latency_ms"]["max"].get<double>());
        }
        EXPECT_EQ(j["echo"], c.echo);
        EXPECT_EQ(j["recommended"]["echo"]["value"], c.echo ? "on" : "off");
        EXPECT_EQ(j["burst"], c.burstMs > 0);
        if (c.burstMs > 0) {
            ASSERT_TRUE(j["burst_ms"].is_number());
            EXPECT_NEAR(j["burst_ms"].get<double>(), c.burstMs, c.burstMs * 0.1);
        } else {
            EXPECT_TRUE(j["burst_ms"].is_null());
        }
        EXPECT_EQ(j["failures"]["stray_bytes"].get<int>() > 0, c.noise);
    }
}

TEST(DoctorTool, TableRecommendsAndCtrlCPrintsWhatWasMeasured) {
    TempDir dir;
    const std::unique_ptr<ToolProcess> simulator = simulate({"--latency-ms", "100"});
    const std::string device = simulator->line();
    ASSERT_FALSE(device.empty());

    ToolProcess run(doctor(device, dir, {"--count", "1000"}));
    sleep(2);  // some 15 reads
    const ToolResult r = run.finish(SIGINT);
    SCOPED_TRACE(r.out + r.err);
    EXPECT_EQ(r.status, 0);
    for (const char* row : {"latency ms", "max gap ms", "echo", "burst", "late answers", "failures",
                            "--timeout", "--delay", "--late-guard", "--echo", "stopped early"}) {
        EXPECT_NE(r.out.find(row), std::string::npos) << row;
    }
    EXPECT_EQ(r.out.find("1000"), std::string::npos) << "it stopped before the end";
}

TEST(DoctorTool, RefusesBadNodeListsAndAnAbsentNode) {
    TempDir dir;
    const std::unique_ptr<ToolProcess> simulator = simulate({});
    const std::string device = simulator->line();
    ASSERT_FALSE(device.empty());
    const struct {
        Args args;
        int status;
        const char* says;
    } cases[] = {
        {{"--nodes", "0"}, 2, "'0' is no node number 1..247"},
        {{"--nodes", "5-3"}, 2, "runs backwards"},
        {{"--nodes", "1", "--tag", "1?HREG?400001?unsignedShort"}, 2, "not both"},
        // Node 9 is absent: no latency, no advice but to check the line.
        {{"--nodes", "9", "--count", "2", "--timeout", "50", "--repeat", "0"}, 1, "no answer"},
    };
    for (const auto& c : cases) {
        Args args = {"doctor", "--device", device, "--store", dir.file("s.ini")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ToolResult r = runTool(args);
        SCOPED_TRACE(r.out + r.err);
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE((r.out + r.err).find(c.says), std::string::npos) << c.says;
    }
}

}  // namespace
