// qarn poll and qarn demo as a user runs them: poll against `qarn simulate` on a pty pair, with
// faults injected on the line, and the demo with its known values.

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "TempDir.h"
#include "ToolProcess.h"

namespace {

const char* const KnownDevice =
    "hreg 400001 uint16 0x1234\nhreg 400002 int16 -2\nhreg 400003 uint32 123456\n"
    "hreg 400005 uint16 0x00AB  # not BCD\ninput 100001..100016 index\n"
    "ireg 300001..300020 index\ncoil 1..16 0\ncoil 2 1\n";

const char* const TagFile =
    "# test tags\nrelay 1?OUTP?2?boolean\ninputs 1?INP?100001?boolean-3\n"
    "counts 1?IREG?300001?short-2\nvolts 1?HREG?400001?unsignedShort\n"
    "signed 1?HREG?400002?short\nbig 1?HREG?400003?int(swap2,swap4)\n"
    "high 1?HREG?400001.1?unsignedByte\nbit4 1?HREG?400001.4?boolean\n"
    "nine 1?IREG?300010?unsignedShort\noverride 1?NO?0?unsignedByte\n"
    "model 2?HREG?400257?unsignedShort\n";

const std::map<std::string, nlohmann::json> Values = {
    {"relay", true},    {"inputs", {false, true, false}},
    {"counts", {0, 1}}, {"volts", 4660},
    {"signed", -2},     {"nine", 9},
    {"big", 123456},    {"high", 18},
    {"bit4", true},     {"override", 1},
    {"model", 24}};

// By node and byte offset, every area of node 1 starting at byte 0 and the longest tag there
// first, the scan reads: node 1 input registers, holding registers, coils, input bits; node 2
// holding registers: five requests on the line, each tag cut out of its block. The node
// override is answered by the driver.
constexpr int Requests = 5;
const std::map<std::string, int> RequestOf = {
    {"counts", 0}, {"nine", 0},  {"volts", 1},  {"signed", 1}, {"big", 1},      {"high", 1},
    {"bit4", 1},   {"relay", 2}, {"inputs", 3}, {"model", 4},  {"override", -1}};

class PollTool : public ::testing::Test {
  protected:
    PollTool() {
        TempDir::write(dir.file("known.prof"), KnownDevice);
        TempDir::write(dir.file("tags.txt"), TagFile);
    }

    // Starts `qarn simulate` (node 1 the known device, node 2 an EM24); poll's line for it.
    std::string simulate(std::vector<std::string> args, int timeoutMs) {
        args.insert(args.begin(),
                    {"simulate", "--pty", "--slave", "1:" + dir.file("known.prof"), "--slave",
                     "2:EM24", "--baud", "38400", "--parity", "even", "--no-pace", "--seed", "3"});
        simulator = std::make_unique<ToolProcess>(args);
        return "CfgVer=1 uart=" + simulator->line() +
               " baudrate=38400 parity=even bits=8 stopbits=1 mode=RS-485 defNodeId=1 "
               "model=GenericModbus repeat=0 timeout=" +
               std::to_string(timeoutMs) + " Node2::defNodeId=2 Node2::model=EM24";
    }
    ToolResult poll(std::vector<std::string> args) const {
        args.insert(args.begin(), "poll");
        args.insert(args.end(), {"--store", dir.file("store.ini")});
        return runTool(args);
    }

    TempDir dir;
    std::unique_ptr<ToolProcess> simulator;  // ends before its folder goes
};

TEST_F(PollTool, FaultsOnTheLineMarkTheTagsOfTheRequestHitAndTheNextCycleRecovers) {
    const std::pair<const char*, const char*> cases[] = {
        {"--drop", "Communication error (no answer within 400 ms, 1 try)"},
        {"--bad-crc", "Communication error (CRC error in 1 answer)"},
        {"--wrong-node",
         "Incorrect node address in response (answer from another node or function)"},
        {"--exception", "Exception: Failure in device"},
        {"--delay", nullptr},  // late, but within the time-out
    };
    const int every = Requests + 1;
    for (const auto& [fault, text] : cases) {
        SCOPED_TRACE(fault);
        std::vector<std::string> faults = {std::string(fault) + "-every", std::to_string(every),
                                           "--delay-ms", "60"};
        faults.resize(text != nullptr ? 2 : 4);  // how late, for delays only: alone it delays all
        const std::string config = simulate(faults, 400);
        const ToolResult r = poll({"--config", config, "--tags", dir.file("tags.txt"), "--format",
                                   "jsonl", "--count", "4", "--interval", "0"});
        ASSERT_EQ(std::count(r.out.begin(), r.out.end(), '\n'),
                  static_cast<long>(4 * (Values.size() + 1)))
            << r.err;
        std::istringstream rows(r.out);
        for (std::string row; std::getline(rows, row);) {
            const nlohmann::json j = nlohmann::json::parse(row);
            const int cycle = j["cycle"];
            if (j.contains("summary")) {
                EXPECT_EQ(j["summary"]["failed"], text != nullptr && cycle > 1 ? 1 : 0) << j;
                continue;
            }
            // Request 6 is the first of cycle 2, request 12 the second of cycle 3, and so on.
            const int request = RequestOf.at(j["name"]);
            if (text != nullptr && request >= 0 &&
                ((cycle - 1) * Requests + request + 1) % every == 0) {
                EXPECT_EQ(j.value("error", nlohmann::json()),
                          (nlohmann::json{{"code", -6}, {"text", text}}))
                    << j;
            } else {
                EXPECT_EQ(j.value("value", nlohmann::json()), Values.at(j["name"])) << j;
            }
        }
        EXPECT_EQ(r.status, text != nullptr ? 1 : 0) << "the last cycle had a failure";
        const std::string simulated = simulator->finish(SIGTERM).err;
        EXPECT_NE(simulated.find("; faults: " + std::string(fault).substr(2) + " 3\n"),
                  std::string::npos)
            << simulated;
    }
}

TEST_F(PollTool, CsvLinesAndAPlanThatNeedsNoLine) {
    // A value that does not convert fails its own tag only, not the request it came with.
    ToolResult r = poll({"--config", simulate({}, 300), "--format", "csv", "--count", "1",
                         "v=1?HREG?400001?unsignedShort", "bcd=1?HREG?400005?unsignedShort(bcd)"});
    EXPECT_EQ(r.status, 1) << "a tag in error in the last cycle";
    EXPECT_NE(r.out.find(",1,v,1?HREG?400001?unsignedShort,4660,\n"), std::string::npos) << r.out;
    EXPECT_NE(
        r.out.find(",1,bcd,1?HREG?400005?unsignedShort(bcd),,error -9: read conversion error"),
        std::string::npos);

    r = poll({"--device", "/nonexistent", "--plan", "--tags", dir.file("tags.txt")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "11 tags in 6 reads (5 on the line):");
}

// The values the demo's devices hold whatever the time and seed.
const std::map<std::string, std::string> DemoConstants = {
    {"kWh_export", "2345"}, {"model_code", "24"},      {"fw_major", "1"}, {"fw_minor", "2"},
    {"meter_node", "1"},    {"inputs_1-4", "0,1,0,1"}, {"input_8", "1"},  {"relay_1", "0"},
    {"analog_10", "9"},     {"analog_11-12", "10,11"}, {"setpoint", "0"}, {"setpoint.4", "0"},
    {"io_node", "2"}};

TEST(PollDemo, PollsTenCyclesThenWritesAndReadsBack) {
    const ToolResult r = runTool({"demo", "--seed", "42"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    int cycles = 0, rows = 0;
    std::istringstream out(r.out);
    for (std::string line; std::getline(out, line);) {
        std::istringstream fields(line);
        std::string name, tag, value;
        fields >> name >> tag >> value;
        const bool row = !tag.empty() && std::isdigit(static_cast<unsigned char>(tag[0])) != 0;
        if (name == "cycle") {
            EXPECT_EQ(line.substr(0, line.find(", 0 failed")),
                      "cycle " + std::to_string(++cycles) + "/10: 10 requests");
        } else if (row && DemoConstants.count(name) != 0) {
            ++rows;
            EXPECT_EQ(value, DemoConstants.at(name)) << line;
        } else if (row && name.rfind("V_L", 0) == 0) {
            ++rows;
            const int volts = std::atoi(value.c_str());  // 0.1 V, near 230 V
            EXPECT_TRUE(volts > 2200 && volts < 2400) << line;
        }
    }
    EXPECT_EQ(cycles, 10);
    EXPECT_EQ(rows, 10 * static_cast<int>(DemoConstants.size() + 3));
    EXPECT_NE(r.out.find("\nsetpoint (2?HREG?400100?unsignedShort): was 0, wrote 4660, read back "
                         "4660\nrelay_1 (2?OUTP?1?boolean): was 0, wrote 1, read back 1\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("; seed 42\n"), std::string::npos);
    EXPECT_NE(r.out.find("every value read back as written\n"), std::string::npos);
}

}  // namespace
