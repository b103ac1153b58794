#include <gtest/gtest.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <fstream>

#include <qarn/toolkit/Errors.h>
#include <qarn/toolkit/LineOptions.h>

using qarn::LineOptions;

namespace {

// Parses the shared options of one sub-command, as main() does.
LineOptions parse(const std::string& line) {
    CLI::App app;
    LineOptions options;
    qarn::addLineOptions(app, options);
    app.parse(line);
    qarn::finishLineOptions(app, options);
    return options;
}

}  // namespace

TEST(LineOptions, QuickFormBecomesAConfigurationString) {
    const std::pair<const char*, const char*> cases[] = {
        {"--device /dev/ttyUSB0",
         "CfgVer=1 uart=/dev/ttyUSB0 baudrate=9600 parity=even bits=8 stopbits=1 mode=RS-485 "
         "defNodeId=1 model=GenericModbus"},
        {"--device /dev/ttyS1 --baud 19200 --parity None --bits 7 --stopbits 2 --mode rs232 "
         "--model EM24 --node 5 --timeout 300 --repeat 0 --delay 20 --preset-function 16",
         "CfgVer=1 uart=/dev/ttyS1 baudrate=19200 parity=none bits=7 stopbits=2 mode=RS-232 "
         "defNodeId=5 model=EM24 timeout=300 repeat=0 delay=20 presetFunction=16"},
        {"--device '/dev/serial/by-id/usb-FTDI Cable-if00'",  // a blank travels escaped
         "CfgVer=1 uart=/dev/serial/by-id/usb-FTDI&nbsp;Cable-if00 baudrate=9600 parity=even "
         "bits=8 "
         "stopbits=1 mode=RS-485 defNodeId=1 model=GenericModbus"},
    };
    for (const auto& [args, config] : cases) {
        EXPECT_EQ(qarn::configurationString(parse(args)), config);
    }
    // A relative path is made absolute.
    const std::string cfg = qarn::configurationString(parse("--device ttyS0"));
    EXPECT_EQ(cfg.rfind("CfgVer=1 uart=/", 0), 0U) << cfg;
    EXPECT_NE(cfg.find("/ttyS0 "), std::string::npos) << cfg;
}

TEST(LineOptions, ConflictsAndBadValuesAreUsageErrors) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "no line configured: give --device PATH (quick form) or --config/--config-file"},
        {"--baud 19200", "the quick line options need --device PATH"},
        {"--config CfgVer=1 --node 3",
         "--config/--config-file and the quick line options (--device, --baud, ...) exclude each "
         "other"},
        {"--device /dev/x --parity space", "--parity must be none, even, odd or mark, not 'space'"},
        {"--device \"/dev/x\ty\"",
         "'/dev/x\ty' holds a line break or tab, which a configuration value cannot carry"},
        {"--config-file /nonexistent/qarn.cfg",
         "cannot read the configuration file '/nonexistent/qarn.cfg'"},
    };
    for (const auto& [args, error] : cases) {
        const LineOptions o = parse(args);
        try {
            qarn::configurationString(o);
            ADD_FAILURE() << "accepted: " << args;
        } catch (const qarn::UsageError& e) {
            EXPECT_STREQ(e.what(), error);
        }
    }
    // Only the standard rates: the reference host and the simulator refuse any other.
    for (const char* bad :
         {"--bits 9", "--node 256", "--preset-function 5", "--timeout -1",
          "--config a --config-file b", "--baud 460800", "--baud 19201", "--baud 0"}) {
        EXPECT_THROW(parse(bad), CLI::ParseError) << bad;
    }
}

TEST(LineOptions, ConfigurationFileTraceAndStoreDefaults) {
    const std::string path = ::testing::TempDir() + "qarn-line-options.cfg";
    std::ofstream(path) << "CfgVer=1 uart=com1\nbaudrate=9600\n";
    EXPECT_EQ(qarn::configurationString(parse("--config-file " + path)),
              "CfgVer=1 uart=com1\nbaudrate=9600\n");
    std::remove(path.c_str());
    EXPECT_TRUE(parse("--trace").trace && parse("--trace").traceFile.empty());
    EXPECT_EQ(parse("--trace=/tmp/qarn.trace").traceFile, "/tmp/qarn.trace");

    EXPECT_EQ(qarn::defaultStorePath("/x/state", "/home/u"), "/x/state/qarn/store.ini");
    EXPECT_EQ(qarn::defaultStorePath("relative", "/home/u"), "/home/u/.local/state/qarn/store.ini");
    EXPECT_EQ(qarn::defaultStorePath(nullptr, nullptr), "");
}
