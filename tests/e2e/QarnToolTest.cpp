// The qarn binary, which loads the built plug-in as the host does, against a libmodbus slave
// over a pty, as a user runs it.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "ModbusPtySlave.h"
#include "SerialPort.h"
#include "TempDir.h"
#include "ToolRun.h"

using Args = std::vector<std::string>;

class QarnTool : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(slave.error(), ""); }

    // Runs qarn with the slave's line in the quick form and a store of the test's own.
    ToolResult run(Args args, const std::string& input = "") const {
        args.insert(args.end(), {"--device", slave.devicePath(), "--baud", "9600", "--timeout",
                                 timeout, "--repeat", repeat, "--store", store});
        return runTool(dir.path(), args, input);
    }

    ModbusPtySlave slave{1};
    TempDir dir;
    std::string store = dir.file("store.ini");
    std::string timeout = "1000";
    std::string repeat = "1";
};

TEST_F(QarnTool, InfoAndXmlNeedNoLine) {
    ToolResult r = runTool(dir.path(), {"info", "--store", store});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Protocol:  QARN \"Modbus Pelrosa\" (type 274, version 114)"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("RefHostSerialFactory v.100"), std::string::npos) << r.out;
    r = runTool(dir.path(), {"xml", "--store", store});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("<?xml version=\"1.0\" encoding=\"utf-8\"?>", 0), 0U) << r.out;
    EXPECT_NE(r.out.find("</protocol_cfg>"), std::string::npos);
}

TEST_F(QarnTool, ReadsEveryTableAndWritesWith5And6And16AreReadBack) {
    slave.with([](modbus_mapping_t& m) {
        m.tab_registers[0] = 0x1234;
        m.tab_registers[10] = 1;
        m.tab_registers[11] = 0xFFFF;
        m.tab_input_registers[5] = 65535;
        m.tab_bits[11] = 1;
        m.tab_input_bits[8] = m.tab_input_bits[10] = 1;
    });
    ToolResult r = run({"read", "--format", "json", "--hex", "1?HREG?400001?short",
                        "1?HREG?400011?short-2", "1?IREG?300006?unsignedShort", "1?OUTP?12?boolean",
                        "1?OUTP?11?boolean", "1?INP?100009?boolean-3"});
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json j = nlohmann::json::parse(r.out);
    nlohmann::json values = nlohmann::json::array();
    for (const auto& item : j) {
        values.push_back(item.value("value", nlohmann::json()));
    }
    EXPECT_EQ(values,
              nlohmann::json::parse("[4660, [1, -1], 65535, true, false, [true, false, true]]"));
    EXPECT_EQ(j[0]["hex"], "0x1234");

    const struct {
        Args args;
        int function;
        const char* echo;  // the value as written, in printed form
    } writes[] = {
        {{"write", "1?HREG?400003?short", "-2"}, 6, "-2"},
        {{"write", "--preset-function", "16", "1?HREG?400020?unsignedShort-2", "7,0x10"},
         16,
         "7,16"},
        {{"write", "1?OUTP?20?boolean", "true"}, 5, "1"},
        {{"write", "1?OUTP?12?boolean", "false"}, 5, "0"},
    };
    for (const auto& w : writes) {
        r = run(w.args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, w.args[w.args.size() - 2] + " = " + w.echo + " written\n");
        EXPECT_EQ(slave.log().back()[1], w.function) << w.args.back();
    }
    EXPECT_EQ(slave.with([](modbus_mapping_t& m) {
        return std::vector<int>{m.tab_registers[2], m.tab_registers[19], m.tab_registers[20],
                                m.tab_bits[19], m.tab_bits[11]};
    }),
              (std::vector<int>{0xFFFE, 7, 16, 1, 0}));
    r = run({"read", "1?HREG?400003?short", "1?HREG?400020?unsignedShort-2", "1?OUTP?20?boolean",
             "1?OUTP?12?boolean"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "1?HREG?400003?short = -2\n1?HREG?400020?unsignedShort-2 = 7,16\n"
              "1?OUTP?20?boolean = 1\n1?OUTP?12?boolean = 0\n");
}

TEST_F(QarnTool, NodeOverrideSetInOneRunIsHonouredInTheNext) {
    slave.with([](modbus_mapping_t& m) { return m.tab_registers[0] = 31; });
    ToolResult r = run({"console", "setid", "7", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "id 7 set to 1\n");

    r = run({"read", "7?HREG?400001?unsignedShort"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "7?HREG?400001?unsignedShort = 31\n");
    EXPECT_EQ(slave.log().back()[0], 1) << "sent to node 1, as overridden";

    r = run({"console"}, "getid\nnosuchcommand\n");
    EXPECT_EQ(r.status, 2) << "an unknown command in the script";
    EXPECT_NE(r.out.find("id 7 -> 1\n"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("unknown console command 'nosuchcommand'"), std::string::npos) << r.err;
}

TEST_F(QarnTool, FailuresExitWith1AndCarryThePluginsCodeAndText) {
    ToolResult r = run({"read", "1?HREG?402001?unsignedShort"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "qarn: 1?HREG?402001?unsignedShort: error -6: Exception: Illegal data address\n");
    EXPECT_EQ(slave.log().size(), 1U) << "an exception answer is final";

    repeat = "2";
    timeout = "300";
    slave.setSilent(true);
    r = run({"read", "1?HREG?400001?unsignedShort"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "qarn: 1?HREG?400001?unsignedShort: error -6: Communication error\n");
    EXPECT_EQ(slave.log().size(), 1U + 3U) << "a silent slave is asked repeat + 1 times";

    r = run({"read", "1?HREG?400001?bogus"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("error -1: Tag URI error: 1?HREG?400001?bogus"), std::string::npos)
        << r.err;

    std::string error;
    auto holder = refhost::SerialPort::open(slave.devicePath(), error);
    ASSERT_NE(holder, nullptr) << error;
    r = run({"read", "1?HREG?400001?unsignedShort"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "qarn: cannot start the line: error -1: Can't open serial port (port busy: " +
                         slave.devicePath() + " is in use by another program)\n");
}

TEST_F(QarnTool, UsageErrorsExitWith2AndSendNothing) {
    const Args cases[] = {
        {},
        {"nosuchcommand"},
        {"read"},
        {"write", "1?HREG?400001?short"},
        {"read", "--store", store, "1?HREG?400001?short"},  // no line
        {"read", "--config", "CfgVer=1", "--device", "/dev/null", "1?HREG?400001?short"},
        {"read", "--port-map", "com1", "--config", "CfgVer=1 uart=com1", "1?HREG?400001?short"},
    };
    for (const auto& args : cases) {
        const ToolResult r = runTool(dir.path(), args);
        EXPECT_EQ(r.status, 2) << (args.empty() ? "" : args[0]) << "\n" << r.err;
        EXPECT_FALSE(r.err.empty());
    }
    const ToolResult r = run({"write", "1?HREG?400001?unsignedShort", "70000"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind("qarn: 1?HREG?400001?unsignedShort: 70000 does not fit unsignedShort "
                          "(0 to 65535)\n",
                          0),
              0U)
        << r.err;
    EXPECT_EQ(slave.log().size(), 0U);
    const ToolResult help = runTool(dir.path(), {"read", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--device"), std::string::npos);
}

TEST_F(QarnTool, FullConfigurationNamesItsPortThroughThePortMapAndTraceShowsTheFrames) {
    slave.with([](modbus_mapping_t& m) { return m.tab_registers[1] = 99; });
    const std::string cfg =
        "CfgVer=1 uart=com3 baudrate=19200 parity=none bits=8 stopbits=1 mode=RS-232 "
        "defNodeId=1 model=EM24 timeout=1000";
    const std::string trace = dir.file("trace.txt");
    ToolResult r =
        runTool(dir.path(), {"read", "--config", cfg, "--port-map", "com3=" + slave.devicePath(),
                             "--store", store, "--trace=" + trace, "1?HREG?400002?unsignedShort"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "1?HREG?400002?unsignedShort = 99\n");
    const std::string lines = TempDir::read(trace);
    EXPECT_NE(lines.find("TX   01 03 00 01 00 01 D5 CA  | node 1, fn 3 read holding registers, "
                         "addr 1, count 1, CRC ok"),
              std::string::npos)
        << lines;
    EXPECT_NE(lines.find("RX   01 03 02 00 63 "), std::string::npos) << lines;

    r = runTool(dir.path(), {"read", "--config", cfg, "--store", store, "1?HREG?400002?short"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "qarn: cannot start the line: error -1: Can't open serial port (port 'com3' is not "
              "mapped to a device (use --port-map com3=PATH or give a device path))\n");
}
