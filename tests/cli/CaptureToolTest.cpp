// --trace-pcap as Wireshark sees it: a capture of a read, a function 6 write, a function 16 write
// and an exception, decoded by tshark with the Modbus RTU dissector on UDP port 502.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "TempDir.h"
#include "ToolProcess.h"

namespace {

using Args = std::vector<std::string>;

const char* const Tshark = "/usr/bin/tshark";

// tshark's rows for the capture, one per frame, fields separated by ';'. Its warnings (e.g. on
// running as root) go to standard error, which is left out.
std::vector<std::string> decode(const std::string& capture) {
    const std::string command =
        std::string(Tshark) + " -r '" + capture +
        "' -o mbrtu.udp.port:502 -o mbrtu.crc_verification:TRUE -T fields -E separator=';'"
        " -e ip.src -e udp.srcport -e mbrtu.unit_id -e modbus.func_code -e modbus.reference_num"
        " -e modbus.word_cnt -e modbus.regval_uint16 -e modbus.data -e modbus.exception_code"
        " -e mbrtu.crc16.status 2>/dev/null";
    std::vector<std::string> rows;
    std::FILE* out = popen(command.c_str(), "r");
    if (out == nullptr) {
        return rows;
    }
    char line[512];
    while (std::fgets(line, sizeof line, out) != nullptr) {
        std::string row = line;
        rows.push_back(row.substr(0, row.find('\n')));
    }
    pclose(out);
    return rows;
}

TEST(CaptureTool, TsharkDecodesQueriesAndAnswersWithTheirFields) {
    ASSERT_EQ(access(Tshark, X_OK), 0) << "tshark (Debian package tshark) is needed";
    TempDir dir;
    ToolProcess simulator({"simulate", "--pty", "--slave", "1:generic", "--slave", "2:EM24",
                           "--baud", "38400", "--no-pace"});
    const std::string device = simulator.line();
    ASSERT_FALSE(device.empty());
    const std::string capture = dir.file("line.pcap");
    const Args line = {"--device", device,  "--baud",       "38400",     "--timeout",
                       "300",      "--store", dir.file("s.ini"), "--trace-pcap", capture};
    const struct {
        Args args;
        int status;
    } runs[] = {
        {{"write", "1?HREG?400002?unsignedShort", "7"}, 0},
        {{"write", "--preset-function", "16", "1?HREG?400003?unsignedShort", "4660"}, 0},
        {{"read", "1?HREG?400002?unsignedShort"}, 0},
        {{"read", "2?HREG?400300?unsignedShort"}, 1},  // a meter has no register 300
    };
    // Each run adds to the one capture.
    for (const auto& r : runs) {
        Args args = r.args;
        args.insert(args.end(), line.begin(), line.end());
        const ToolResult result = runTool(args);
        ASSERT_EQ(result.status, r.status) << result.out << result.err;
    }
    const std::vector<std::string> rows = decode(capture);
    const std::string all = [&rows] {
        std::string text;
        for (const std::string& r : rows) {
            text += r + "\n";
        }
        return text;
    }();
    SCOPED_TRACE(all);
    ASSERT_FALSE(rows.empty()) << "tshark read nothing";
    // address;port;unit;function;reference;count;registers;data;exception;CRC good (1)
    const char* const wanted[] = {
        // function 6: the query and its echo-like answer, register 1 (400002) = 7
        "127.0.0.1;50200;1;6;1;;;0007;;1",
        "127.0.0.2;502;1;6;1;;;0007;;1",
        // function 16: one register at 2 (400003) = 4660, and the answer
        "127.0.0.1;50200;1;16;2;1;4660;;;1",
        "127.0.0.2;502;1;16;2;1;;;;1",
        // the read back: query for register 1, the answer with its value
        "127.0.0.1;50200;1;3;1;1;;;;1",
        "127.0.0.2;502;1;3;;;7;;;1",
        // the meter refuses register 299: exception 2, illegal data address
        "127.0.0.1;50200;2;3;299;1;;;;1",
        "127.0.0.2;502;2;3;;;;;2;1",
    };
    for (const char* row : wanted) {
        EXPECT_NE(all.find(std::string(row) + "\n"), std::string::npos) << row;
    }
    // Every frame is one record, classified by its direction; none is malformed.
    for (const std::string& row : rows) {
        EXPECT_TRUE(row.rfind("127.0.0.1;50200;", 0) == 0 || row.rfind("127.0.0.2;502;", 0) == 0)
            << row;
    }
    EXPECT_EQ(rows.size() % 2, 0u) << "queries and answers in pairs";
}

TEST(CaptureTool, RefusesToAddToAFileThatIsNoCapture) {
    TempDir dir;
    const std::string notes = dir.file("notes.txt");
    TempDir::write(notes, "keep me\n");
    const ToolResult r = runTool({"read", "1?HREG?400001?unsignedShort", "--device", "/dev/null",
                                  "--store", dir.file("s.ini"), "--trace-pcap", notes});
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    EXPECT_NE(r.err.find("not a capture"), std::string::npos) << r.err;
    EXPECT_EQ(TempDir::read(notes), "keep me\n");
}

}  // namespace
