// The qarn binary, which loads the built plug-in as the host does, as a user runs it: against a
// slave built on libmodbus (a peer we wrote no protocol code for) over a pty pair.

#include <gtest/gtest.h>
#include <modbus.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "TempDir.h"
#include "ToolProcess.h"

using Args = std::vector<std::string>;

// Node 1 on the master side of a pty pair, answering from a thread; the tool opens the slave side
// by its path. Our slave descriptor keeps the pty alive between the runs of the tool.
class ModbusPtySlave {
  public:
    ModbusPtySlave() {
        map->tab_registers[0] = 0x1234;
        map->tab_registers[1] = 99;
        map->tab_registers[10] = 1;
        map->tab_registers[11] = 0xFFFF;
        map->tab_input_registers[5] = 65535;
        map->tab_bits[11] = map->tab_input_bits[8] = map->tab_input_bits[10] = 1;
        char name[256] = {};
        path = openpty(&master_, &slave_, name, nullptr, nullptr) == 0 ? name : "";
        termios tio{};  // raw from the start; the port under test sets its line up when it opens
        tcgetattr(slave_, &tio);
        cfmakeraw(&tio);
        tcsetattr(slave_, TCSANOW, &tio);
        modbus_set_slave(ctx_, 1);
        modbus_set_socket(ctx_, master_);
        modbus_set_indication_timeout(ctx_, 0, 50000);  // wakes up to see whether to stop
        thread_ = std::thread([this] {
            uint8_t request[MODBUS_RTU_MAX_ADU_LENGTH];
            while (!stop_) {
                // Nothing (time-out, another node's request, a damaged frame): wait for the next.
                const int n = modbus_receive(ctx_, request);
                if (n > 0) {
                    lastNode = request[0];
                    lastFunction = request[1];
                    ++requests;
                }
                if (n > 0 && !silent) {
                    modbus_reply(ctx_, request, n, map);
                }
            }
        });
    }
    ~ModbusPtySlave() {
        stop_ = true;
        thread_.join();
        modbus_mapping_free(map);
        modbus_free(ctx_);  // does not close the descriptor it was given
        close(master_);
        close(slave_);
    }

    std::string path;
    modbus_mapping_t* map = modbus_mapping_new(1000, 1000, 1000, 1000);  // read after a run
    std::atomic<bool> silent{false};                                     // receive, answer none
    std::atomic<int> requests{0}, lastNode{0}, lastFunction{0};          // answered or not

  private:
    modbus_t* ctx_ = modbus_new_rtu("/dev/null", 115200, 'N', 8, 1);  // never opened
    int master_ = -1, slave_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class QarnTool : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_NE(slave.path, ""); }

    // Runs qarn with the slave's line in the quick form and a store of the test's own.
    ToolResult run(Args args, const std::string& input = "") const {
        args.insert(args.end(), {"--device", slave.path, "--baud", "9600", "--timeout", timeout,
                                 "--repeat", repeat, "--store", store});
        return runTool(args, input);
    }

    ModbusPtySlave slave;
    TempDir dir;
    std::string store = dir.file("store.ini");
    std::string timeout = "1000", repeat = "1";
};

TEST_F(QarnTool, InfoAndXmlNeedNoLine) {
    ToolResult r = runTool({"info", "--store", store});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Protocol:  QARN \"Modbus Pelrosa\" (type 274, version 114)"),
              std::string::npos)
        << r.out;
    r = runTool({"xml", "--store", store});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("<?xml version=\"1.0\" encoding=\"utf-8\"?>", 0), 0U) << r.out;
    EXPECT_NE(r.out.find("</protocol_cfg>"), std::string::npos);
}

TEST_F(QarnTool, ReadsEveryTableAndWritesWith5And6And16AreReadBack) {
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

    const std::pair<Args, int> writes[] = {
        {{"write", "1?HREG?400003?short", "-2"}, 6},
        {{"write", "--preset-function", "16", "1?HREG?400020?unsignedShort-2", "7,0x10"}, 16},
        {{"write", "1?OUTP?20?boolean", "true"}, 5},
        {{"write", "1?OUTP?12?boolean", "false"}, 5},
    };
    for (const auto& [args, function] : writes) {
        r = run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(slave.lastFunction, function) << args.back();
    }
    r = run({"read", "1?HREG?400003?short", "1?HREG?400020?unsignedShort-2", "1?OUTP?20?boolean",
             "1?OUTP?12?boolean"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "1?HREG?400003?short = -2\n1?HREG?400020?unsignedShort-2 = 7,16\n"
              "1?OUTP?20?boolean = 1\n1?OUTP?12?boolean = 0\n");
}

TEST_F(QarnTool, FailuresExitWith1AndCarryThePluginsCodeAndText) {
    ToolResult r = run({"read", "1?HREG?402001?unsignedShort"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "qarn: 1?HREG?402001?unsignedShort: error -6: Exception: Illegal data address\n");
    EXPECT_EQ(slave.requests, 1) << "an exception answer is final";

    repeat = "2";
    timeout = "300";
    slave.silent = true;
    r = run({"read", "1?HREG?400001?unsignedShort"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "qarn: 1?HREG?400001?unsignedShort: error -6: Communication error (no answer within "
              "300 ms, 3 tries)\n");
    EXPECT_EQ(slave.requests, 1 + 3) << "a silent slave is asked repeat + 1 times";
}

TEST_F(QarnTool, UsageErrorsExitWith2AndSendNothing) {
    const Args cases[] = {
        {"write", "1?HREG?400001?short"},
        {"read", "--store", store, "1?HREG?400001?short"},  // no line
        {"read", "--port-map", "com1", "--config", "CfgVer=1 uart=com1", "1?HREG?400001?short"},
        {"simulate", "--slave", "1:generic"},  // neither --pty nor --serial
        {"simulate", "--pty", "--slave", "1:nosuchmodel"},
        {"simulate", "--pty", "--slave", "1:generic", "--slave", "1:EM24"},
        {"simulate", "--pty", "--slave", "1:generic", "--baud", "460800"},
        {"simulate", "--pty", "--slave", "1:generic", "--parity", "space"},
        {"simulate", "--serial", "/dev/null", "--slave", "1:generic", "--link", "/tmp/x"},
        {"simulate", "--pty", "--slave", "1:generic", "--jitter", "normal"},
    };
    for (const auto& args : cases) {
        const ToolResult r = runTool(args);
        EXPECT_EQ(r.status, 2) << (args.empty() ? "" : args.back()) << "\n" << r.err;
        EXPECT_FALSE(r.err.empty());
    }
    const ToolResult r = run({"write", "1?HREG?400001?unsignedShort", "70000"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(": 70000 does not fit unsignedShort (0 to 65535)"), std::string::npos);
    EXPECT_EQ(slave.requests, 0);
    const ToolResult help = runTool({"read", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--device"), std::string::npos);
}

TEST_F(QarnTool, FullConfigurationNamesItsPortThroughThePortMapAndTraceShowsTheFrames) {
    const std::string cfg =
        "CfgVer=1 uart=com3 baudrate=19200 parity=none bits=8 stopbits=1 mode=RS-232 "
        "defNodeId=1 model=EM24 timeout=1000";
    const std::string trace = dir.file("trace.txt");
    ToolResult r = runTool({"read", "--config", cfg, "--port-map", "com3=" + slave.path, "--store",
                            store, "--trace=" + trace, "1?HREG?400002?unsignedShort"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "1?HREG?400002?unsignedShort = 99\n");
    // One line per event, each with a microsecond time stamp.
    const std::regex expected(
        R"(\d\d:\d\d:\d\d\.\d{6} SETUP .* 19200 baud, parity none, 8 data bits, 1 stop bits, RS-232
\d\d:\d\d:\d\d\.\d{6} TX   01 03 00 01 00 01 D5 CA  \| node 1, fn 3 read holding registers, addr 1, count 1, CRC ok
\d\d:\d\d:\d\d\.\d{6} RX   01 03 02 00 63 .* \| node 1, fn 3 read holding registers, 2 bytes, CRC ok
)");
    EXPECT_TRUE(std::regex_search(TempDir::read(trace), expected)) << TempDir::read(trace);

    r = runTool({"read", "--config", cfg, "--store", store, "1?HREG?400002?short"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "qarn: cannot start the line: error -1: Can't open serial port (port 'com3' is not "
              "mapped to a device (use --port-map com3=PATH or give a device path))\n");
}
