#include "LineOptions.h"

#include <gtest/gtest.h>

#include <CLI/CLI.hpp>
#include <fstream>
#include <vector>

#include "Command.h"

using qarn::LineOptions;

namespace {

// Parses a command line of one sub-command with the shared options, as main() does.
LineOptions parse(std::vector<std::string> args) {
    CLI::App app;
    LineOptions options;
    qarn::addLineOptions(app, options);
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    app.parse(reversed);
    qarn::finishLineOptions(app, options);
    return options;
}

}  // namespace

TEST(LineOptions, QuickFormBecomesAConfigurationString) {
    const struct {
        std::vector<std::string> args;
        const char* config;
    } cases[] = {
        {{"--device", "/dev/ttyUSB0"},
         "CfgVer=1 uart=/dev/ttyUSB0 baudrate=9600 parity=even bits=8 stopbits=1 mode=RS-485 "
         "defNodeId=1 model=GenericModbus"},
        {{"--device",
          "/dev/serial/by-id/usb-FTDI Cable-if00",
          "--baud",
          "19200",
          "--parity",
          "None",
          "--bits",
          "7",
          "--stopbits",
          "2",
          "--mode",
          "rs232",
          "--model",
          "EM24",
          "--node",
          "5",
          "--timeout",
          "300",
          "--repeat",
          "0",
          "--delay",
          "20",
          "--preset-function",
          "16"},
         "CfgVer=1 uart=/dev/serial/by-id/usb-FTDI&nbsp;Cable-if00 baudrate=19200 parity=none "
         "bits=7 stopbits=2 mode=RS-232 defNodeId=5 model=EM24 timeout=300 repeat=0 delay=20 "
         "presetFunction=16"},
        {{"--config", "CfgVer=1 uart=com1 baudrate=9600"}, "CfgVer=1 uart=com1 baudrate=9600"},
    };
    for (const auto& c : cases) {
        const LineOptions o = parse(c.args);
        EXPECT_TRUE(qarn::hasLine(o));
        EXPECT_EQ(qarn::configurationString(o), c.config);
    }
}

TEST(LineOptions, RelativeDevicePathsAreMadeAbsolute) {
    const LineOptions o = parse({"--device", "ttyS0"});
    const std::string cfg = qarn::configurationString(o);
    const size_t start = cfg.find("uart=") + 5;
    const std::string uart = cfg.substr(start, cfg.find(' ', start) - start);
    EXPECT_EQ(uart.front(), '/');
    EXPECT_EQ(uart.substr(uart.size() - 6), "/ttyS0");
}

TEST(LineOptions, ConflictsAndBadValuesAreUsageErrors) {
    const struct {
        std::vector<std::string> args;
        const char* error;
    } cases[] = {
        {{}, "no line configured: give --device PATH (quick form) or --config/--config-file"},
        {{"--baud", "19200"}, "the quick line options need --device PATH"},
        {{"--config", "CfgVer=1", "--node", "3"},
         "--config/--config-file and the quick line options (--device, --baud, ...) exclude each "
         "other"},
        {{"--device", "/dev/x", "--parity", "space"},
         "--parity must be none, even, odd or mark, not 'space'"},
        {{"--device", "/dev/x", "--mode", "RS-999"},
         "--mode must be RS-232, RS-485 or RS-422, not 'RS-999'"},
        {{"--device", "/dev/x\ty"},
         "'/dev/x\ty' holds a line break or tab, which a configuration value cannot carry"},
        {{"--config-file", "/nonexistent/qarn.cfg"},
         "cannot read the configuration file '/nonexistent/qarn.cfg'"},
    };
    for (const auto& c : cases) {
        const LineOptions o = parse(c.args);
        try {
            qarn::configurationString(o);
            ADD_FAILURE() << "accepted: " << c.error;
        } catch (const qarn::UsageError& e) {
            EXPECT_EQ(std::string(e.what()), c.error);
        }
    }
}

TEST(LineOptions, ParserRefusesOutOfRangeNumbersAndBothConfigSources) {
    const std::vector<std::vector<std::string>> bad = {
        {"--bits", "9"},
        {"--stopbits", "0"},
        {"--node", "256"},
        {"--baud", "0"},
        {"--preset-function", "5"},
        {"--timeout", "-1"},
        {"--config", "a", "--config-file", "b"},
    };
    for (const auto& args : bad) {
        EXPECT_THROW(parse(args), CLI::ParseError) << args[0];
    }
}

TEST(LineOptions, ConfigurationFileIsReadWhole) {
    const std::string path = ::testing::TempDir() + "qarn-line-options.cfg";
    std::ofstream(path) << "CfgVer=1 uart=com1\nbaudrate=9600\n";
    EXPECT_EQ(qarn::configurationString(parse({"--config-file", path})),
              "CfgVer=1 uart=com1\nbaudrate=9600\n");
    std::remove(path.c_str());
}

TEST(LineOptions, TraceFlagWithAndWithoutFile) {
    LineOptions o = parse({"--trace"});
    EXPECT_TRUE(o.trace);
    EXPECT_EQ(o.traceFile, "");
    o = parse({"--trace=/tmp/qarn.trace"});
    EXPECT_TRUE(o.trace);
    EXPECT_EQ(o.traceFile, "/tmp/qarn.trace");
    o = parse({});
    EXPECT_FALSE(o.trace);
}

TEST(LineOptions, StoreDefaultsFollowTheStateDirectoryConvention) {
    EXPECT_EQ(qarn::defaultStorePath("/x/state", "/home/u"), "/x/state/qarn/store.ini");
    EXPECT_EQ(qarn::defaultStorePath(nullptr, "/home/u"), "/home/u/.local/state/qarn/store.ini");
    EXPECT_EQ(qarn::defaultStorePath("relative", "/home/u"), "/home/u/.local/state/qarn/store.ini");
    EXPECT_EQ(qarn::defaultStorePath("", "/home/u"), "/home/u/.local/state/qarn/store.ini");
    EXPECT_EQ(qarn::defaultStorePath(nullptr, nullptr), "");
}
