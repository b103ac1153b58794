// The qarn binary against a libmodbus slave over a pty, as a user runs it.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "FileStore.h"
#include "ModbusPtySlave.h"
#include "SerialPort.h"
#include "TempDir.h"
#include "ToolRun.h"

class QarnTool : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(slave.ok()) << slave.error(); }

    // The line options for the slave, in the quick form, plus a store of the test's own.
    std::vector<std::string> line(std::vector<std::string> args, const std::string& repeat = "1",
                                  const std::string& timeout = "1000") const {
        args.insert(args.end(), {"--device", slave.devicePath(), "--baud", "9600", "--timeout",
                                 timeout, "--repeat", repeat, "--store", store});
        return args;
    }

    ToolResult run(const std::vector<std::string>& args, const std::string& input = "") const {
        return runTool(dir.path(), args, input);
    }

    ModbusPtySlave slave{1};
    TempDir dir;
    std::string store = dir.file("store.ini");
};

TEST_F(QarnTool, InfoAndXmlNeedNoLine) {
    ToolResult r = run({"info", "--store", store});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Protocol:  QARN \"Modbus Pelrosa\" (type 274, version 114)"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Implementation: Protocol_QARN v.100"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("RefHostSerialFactory v.100"), std::string::npos) << r.out;

    r = run({"xml", "--store", store});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("<?xml version=\"1.0\" encoding=\"utf-8\"?>", 0), 0U) << r.out;
    EXPECT_NE(r.out.find("<protocol_cfg"), std::string::npos);
    EXPECT_NE(r.out.find("</protocol_cfg>"), std::string::npos);
}

TEST_F(QarnTool, ReadsEveryTableInOneRunAsJson) {
    slave.setHolding(0, 0x1234);
    slave.setInput(2, 65535);
    slave.setCoil(3, true);
    slave.setDiscrete(0, true);
    const ToolResult r =
        run(line({"read", "--format", "json", "--hex", "1?HREG?400001?short",
                  "1?IREG?300003?unsignedShort", "1?OUTP?4?boolean", "1?INP?100001?boolean-2"}));
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json j = nlohmann::json::parse(r.out);
    ASSERT_EQ(j.size(), 4U) << r.out;
    EXPECT_EQ(j[0]["value"], 4660);
    EXPECT_EQ(j[0]["hex"], "0x1234");
    EXPECT_EQ(j[0]["type"], "short");
    EXPECT_EQ(j[1]["value"], 65535);
    EXPECT_EQ(j[2]["value"], true);
    EXPECT_EQ(j[3]["value"], nlohmann::json::parse("[true,false]"));
}

TEST_F(QarnTool, WritesAreReadBackInTheNextRun) {
    ToolResult r = run(line({"write", "1?HREG?400010?short", "-2"}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "1?HREG?400010?short = -2 written\n");
    EXPECT_EQ(slave.holding(9), 0xFFFE);
    EXPECT_EQ(slave.log().back()[1], 6);

    r = run(line({"write", "--preset-function", "16", "1?HREG?400020?unsignedShort-2", "7,0x10"}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(slave.log().back()[1], 16);

    r = run(line({"write", "1?OUTP?8?boolean", "true"}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(slave.log().back()[1], 5);

    r = run(
        line({"read", "1?HREG?400010?short", "1?HREG?400020?unsignedShort-2", "1?OUTP?8?boolean"}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "1?HREG?400010?short = -2\n"
              "1?HREG?400020?unsignedShort-2 = 7,16\n"
              "1?OUTP?8?boolean = 1\n");
}

TEST_F(QarnTool, ValueThatDoesNotFitIsRefusedBeforeAnythingIsSent) {
    const int before = slave.requests();
    const ToolResult r = run(line({"write", "1?HREG?400001?unsignedShort", "70000"}));
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("qarn: 1?HREG?400001?unsignedShort: 70000 does not fit unsignedShort "
                         "(0 to 65535)"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(slave.requests(), before);
}

TEST_F(QarnTool, FailuresCarryThePluginsCodeAndText) {
    ToolResult r = run(line({"read", "1?HREG?402001?unsignedShort"}));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "qarn: 1?HREG?402001?unsignedShort: error -6: Exception: Illegal data address\n");

    r = run(line({"read", "1?HREG?400001?bogus"}));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("error -1: Tag URI error: 1?HREG?400001?bogus"), std::string::npos)
        << r.err;
}

TEST_F(QarnTool, SilentSlaveIsAskedOncePlusRepeats) {
    slave.setSilent(true);
    const int before = slave.requests();
    const ToolResult r = run(line({"read", "1?HREG?400001?unsignedShort"}, "2", "300"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "qarn: 1?HREG?400001?unsignedShort: error -6: Communication error\n");
    EXPECT_EQ(slave.requests(), before + 3);
}

TEST_F(QarnTool, NodeOverrideSetInOneRunIsHonouredInTheNext) {
    slave.setHolding(0, 31);
    ToolResult r = run(line({"console", "setid", "7", "1"}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "id 7 set to 1\n");

    r = run(line({"read", "7?HREG?400001?unsignedShort"}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "7?HREG?400001?unsignedShort = 31\n");
    EXPECT_EQ(slave.log().back()[0], 1) << "sent to node 1, as overridden";

    r = run(line({"console"}), "getid\nnosuchcommand\n");
    EXPECT_EQ(r.status, 2) << "an unknown command in the script";
    EXPECT_NE(r.out.find("id 7 -> 1\n"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("unknown console command 'nosuchcommand'"), std::string::npos) << r.err;
}

TEST_F(QarnTool, TraceShowsTheFramesOnTheLine) {
    slave.setHolding(0, 5);
    const std::string traceFile = dir.file("trace.txt");
    const ToolResult r = run(line({"read", "--trace=" + traceFile, "1?HREG?400001?unsignedShort"}));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string trace = TempDir::read(traceFile);
    EXPECT_NE(trace.find("TX   01 03 00 00 00 01 84 0A  | node 1, fn 3 read holding registers, "
                         "addr 0, count 1, CRC ok"),
              std::string::npos)
        << trace;
    EXPECT_NE(trace.find("RX   01 03 02 00 05 "), std::string::npos) << trace;
}

TEST_F(QarnTool, BusyPortIsReportedAsSuch) {
    std::string error;
    auto holder = refhost::SerialPort::open(slave.devicePath(), error);
    ASSERT_NE(holder, nullptr) << error;
    const ToolResult r = run(line({"read", "1?HREG?400001?unsignedShort"}));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "qarn: cannot start the line: error -1: Can't open serial port (port busy: " +
                         slave.devicePath() + " is in use by another program)\n");
}

TEST_F(QarnTool, UsageErrorsExitWithStatus2) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"read"},
        {"read", "--store", store, "1?HREG?400001?short"},  // no line
        {"read", "--config", "CfgVer=1", "--device", "/dev/null", "1?HREG?400001?short"},
        {"write", "1?HREG?400001?short"},
        {"read", "--bits", "9", "--device", "/dev/null", "x"},
        {"nosuchcommand"},
        {"read", "--port-map", "com1", "--config", "CfgVer=1 uart=com1", "1?HREG?400001?short"},
    };
    for (const auto& args : cases) {
        const ToolResult r = run(args);
        EXPECT_EQ(r.status, 2) << (args.empty() ? "" : args[0]) << "\n" << r.err;
        EXPECT_FALSE(r.err.empty());
    }
    const ToolResult help = run({"read", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--device"), std::string::npos);
}

TEST_F(QarnTool, FullConfigurationNamesItsPortThroughThePortMap) {
    slave.setHolding(1, 99);
    const std::string cfg =
        "CfgVer=1 uart=com3 baudrate=19200 parity=none bits=8 stopbits=1 mode=RS-232 "
        "defNodeId=1 model=EM24 timeout=1000";
    ToolResult r = run({"read", "--config", cfg, "--port-map", "com3=" + slave.devicePath(),
                        "--store", store, "1?HREG?400002?unsignedShort"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "1?HREG?400002?unsignedShort = 99\n");

    r = run({"read", "--config", cfg, "--store", store, "1?HREG?400002?unsignedShort"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "qarn: cannot start the line: error -1: Can't open serial port (port 'com3' is not "
              "mapped to a device (use --port-map com3=PATH or give a device path))\n");
}
