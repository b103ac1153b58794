// `qarn simulate` refuses what it cannot serve; poll's tests run it against the driver.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ToolProcess.h"

namespace {

TEST(SimulateTool, RefusesBadArgumentsWithUsageStatus) {
    const std::vector<std::string> cases[] = {
        {"--slave", "1:generic"},
        {"--pty", "--slave", "1:nosuchmodel"},
        {"--pty", "--slave", "0:generic"},
        {"--pty", "--slave", "1:generic", "--slave", "1:EM24"},
        {"--pty", "--slave", "1:generic", "--timeout", "100"},
        {"--pty", "--serial", "/dev/null", "--slave", "1:generic"},
        {"--pty", "--slave", "1:generic", "--bits", "7"},
    };
    for (std::vector<std::string> args : cases) {
        args.insert(args.begin(), "simulate");
        const simtest::ToolResult r = simtest::runTool(args);
        EXPECT_EQ(r.status, 2) << args.back() << ": " << r.err;
        EXPECT_EQ(r.err.rfind("qarn: ", 0), 0u) << r.err;
    }
}

}  // namespace
