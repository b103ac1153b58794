// Ctrl-C ends `qarn poll` at once, even while it waits for an answer that would take seconds.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "TempDir.h"
#include "ToolProcess.h"

namespace {

using Clock = std::chrono::steady_clock;

TEST(StopTiming, CtrlCEndsAPollInsideItsWaitForAnAnswer) {
    TempDir dir;
    ToolProcess simulator({"simulate", "--pty", "--slave", "1:generic", "--baud", "38400"});
    const std::string device = simulator.line();
    ASSERT_FALSE(device.empty());
    // Node 5 is absent: every request waits out the full time-out.
    ToolProcess poll({"poll", "--device", device, "--baud", "38400", "--timeout", "5000",
                      "--repeat", "2", "--interval", "0", "--format", "csv", "--store",
                      dir.file("store.ini"), "5?HREG?400001?unsignedShort"});
    std::this_thread::sleep_for(std::chrono::milliseconds(700));  // loaded, and waiting
    const Clock::time_point signalled = Clock::now();
    const ToolResult r = poll.finish(SIGINT);
    const auto took =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - signalled);
    // Still in its first request when the signal came: no row, no failure of its own.
    EXPECT_EQ(r.out, "time,cycle,name,tag,value,error\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 1) << "no cycle completed";
    EXPECT_LT(took.count(), 500) << "the poll went on waiting for its answer";
    RecordProperty("stop_ms", static_cast<int>(took.count()));
}

}  // namespace
