// qarn poll and qarn demo as a user runs them: poll against `qarn simulate` on a pty pair, with
// faults injected on the line, and the demo with its known values.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "ToolProcess.h"

namespace {

using simtest::ToolResult;

const char* const KnownDevice = R"(
hreg 400001 uint16 0x1234
hreg 400002 int16 -2
hreg 400003 uint32 123456
hreg 400005 uint16 0x00AB   # not BCD
input 100001..100016 index
ireg 300001..300020 index
coil 1..16 0
coil 2 1
)";

// Sorted by node, area and address, the scan reads: node 1 holding registers (volts, its bit
// and high byte, signed, big), input bits (inputs), input registers (counts, nine), the node
// override (answered by the driver), coils (relay); node 2 holding registers (model). Five
// requests on the line, each tag cut out of its block.
const char* const TagFile =
    "# test tags\n"
    "relay    1?OUTP?2?boolean\n"
    "inputs   1?INP?100001?boolean-3\n"
    "counts   1?IREG?300001?short-2\n"
    "volts    1?HREG?400001?unsignedShort\n"
    "signed   1?HREG?400002?short\n"
    "big      1?HREG?400003?int(swap2,swap4)\n"
    "high     1?HREG?400001.1?unsignedByte\n"
    "bit4     1?HREG?400001.4?boolean\n"
    "nine     1?IREG?300010?unsignedShort\n"
    "override 1?NO?0?unsignedByte\n"
    "model    2?HREG?400257?unsignedShort\n";

const std::map<std::string, nlohmann::json> Values = {
    {"relay", true},    {"inputs", {false, true, false}},
    {"counts", {0, 1}}, {"volts", 4660},
    {"signed", -2},     {"nine", 9},
    {"big", 123456},    {"high", 18},
    {"bit4", true},     {"override", 1},
    {"model", 24},
};

// Which tags each line request reads, in the order of the scan.
const std::vector<std::vector<std::string>> Requests = {{"volts", "signed", "big", "high", "bit4"},
                                                        {"inputs"},
                                                        {"counts", "nine"},
                                                        {"relay"},
                                                        {"model"}};

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

class PollTool : public ::testing::Test {
  protected:
    PollTool() {
        std::ofstream(file("known.prof")) << KnownDevice;
        std::ofstream(file("tags.txt")) << TagFile;
    }
    ~PollTool() override {
        simulator.reset();
        for (const char* name : {"known.prof", "tags.txt", "store.ini"}) {
            std::remove(file(name).c_str());
        }
    }
    std::string file(const std::string& name) const {
        return ::testing::TempDir() + "poll-" + std::to_string(getpid()) + "-" + name;
    }

    // Starts `qarn simulate` with node 1 the known device and node 2 an EM24, with `faults`;
    // returns poll's line configuration for it.
    std::string simulate(const std::vector<std::string>& faults, int timeoutMs) {
        std::vector<std::string> args = {"simulate", "--pty",  "--slave", "1:" + file("known.prof"),
                                         "--slave",  "2:EM24", "--baud",  "38400",
                                         "--parity"};
        args.insert(args.end(), {"even", "--no-pace", "--seed", "3"});
        args.insert(args.end(), faults.begin(), faults.end());
        simulator = std::make_unique<simtest::ToolProcess>(args);
        return "CfgVer=1 uart=" + simulator->line() +
               " baudrate=38400 parity=even bits=8 stopbits=1 mode=RS-485 defNodeId=1 "
               "model=GenericModbus repeat=0 timeout=" +
               std::to_string(timeoutMs) + " Node2::defNodeId=2 Node2::model=EM24";
    }
    ToolResult poll(std::vector<std::string> args) const {
        args.insert(args.begin(), "poll");
        args.insert(args.end(), {"--store", file("store.ini")});
        return simtest::runTool(args);
    }

    std::unique_ptr<simtest::ToolProcess> simulator;
};

TEST_F(PollTool, FaultsOnTheLineMarkTheTagsOfTheRequestHitAndTheNextCycleRecovers) {
    const std::pair<const char*, const char*> cases[] = {
        {"--drop", "Communication error"},
        {"--bad-crc", "Communication error"},
        {"--wrong-node", "Incorrect node address in response"},
        {"--exception", "Exception: Failure in device"},
        {"--delay", nullptr},  // late, but within the time-out
    };
    const size_t every = Requests.size() + 1;
    for (const auto& [fault, text] : cases) {
        SCOPED_TRACE(fault);
        std::vector<std::string> options = {std::string(fault) + "-every", std::to_string(every)};
        if (text == nullptr) {
            options.insert(options.end(), {"--delay-ms", "60"});
        }
        const std::string config = simulate(options, 400);
        const ToolResult r = poll({"--config", config, "--tags", file("tags.txt"), "--format",
                                   "jsonl", "--count", "4", "--interval", "0"});
        const std::vector<std::string> rows = lines(r.out);
        ASSERT_EQ(rows.size(), 4 * (Values.size() + 1)) << r.out << r.err;

        // Request 6 is the first of cycle 2, request 12 the second of cycle 3, and so on.
        std::map<std::pair<int, std::string>, bool> struck;
        for (size_t n = every; n <= 4 * Requests.size(); n += every) {
            for (const std::string& name : Requests[(n - 1) % Requests.size()]) {
                struck[{static_cast<int>((n - 1) / Requests.size() + 1), name}] = text != nullptr;
            }
        }
        for (const std::string& row : rows) {
            const nlohmann::json j = nlohmann::json::parse(row);
            const int cycle = j["cycle"];
            if (j.contains("summary")) {
                EXPECT_EQ(j["summary"]["requests"], Requests.size());
                EXPECT_EQ(j["summary"]["failed"], text != nullptr && cycle > 1 ? 1 : 0) << j;
            } else if (struck[{cycle, j["name"]}]) {
                EXPECT_EQ(j.value("error", nlohmann::json()),
                          (nlohmann::json{{"code", -6}, {"text", text}}))
                    << j;
            } else {
                EXPECT_EQ(j.value("value", nlohmann::json()), Values.at(j["name"])) << j;
            }
            EXPECT_EQ(j["time"].get<std::string>().size(), 24U) << j;
        }
        EXPECT_EQ(r.status, text != nullptr ? 1 : 0) << "the last cycle had a failure";
        EXPECT_EQ(simulator->finish(SIGTERM), 0);
        EXPECT_NE(simulator->errors().find("; faults: " + std::string(fault).substr(2) + " 3\n"),
                  std::string::npos)
            << simulator->errors();
    }
}

TEST_F(PollTool, CsvPlanAndExitStatus) {
    // A value that does not convert fails its own tag only, not the request it came with.
    ToolResult r = poll({"--config", simulate({}, 300), "--format", "csv", "--count", "2",
                         "--interval", "0", "v=1?HREG?400001?unsignedShort", "1?IREG?300004?short",
                         "bcd=1?HREG?400005?unsignedShort(bcd)"});
    EXPECT_EQ(r.status, 1) << r.err;
    const std::vector<std::string> csv = lines(r.out);
    ASSERT_EQ(csv.size(), 7U) << r.out;
    EXPECT_EQ(csv[0], "time,cycle,name,tag,value,error");
    EXPECT_EQ(csv[4].substr(24), ",2,v,1?HREG?400001?unsignedShort,4660,");
    EXPECT_EQ(csv[5].substr(24), ",2,1?IREG?300004?short,1?IREG?300004?short,3,");
    EXPECT_EQ(csv[6].substr(24),
              ",2,bcd,1?HREG?400005?unsignedShort(bcd),,error -9: read conversion error");
    EXPECT_EQ(r.err, "qarn poll: last cycle: 2 requests, 0 failed, 1 tag in error, " +
                         r.err.substr(r.err.rfind(", ") + 2));

    // A node that nobody answers fails every cycle: exit status 1.
    r = poll(
        {"--config", simulate({}, 100), "--format", "csv", "--count", "1", "9?HREG?400001?short"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(",,error -6: Communication error\n"), std::string::npos) << r.out;

    // The plan needs no line at all.
    r = poll({"--config",
              "CfgVer=1 uart=/nonexistent baudrate=9600 parity=none bits=8 stopbits=1 "
              "mode=RS-485 defNodeId=1 model=GenericModbus Node2::defNodeId=2 Node2::model=EM24",
              "--plan", "--tags", file("tags.txt")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "11 tags in 6 reads (5 on the line):\n"
              "  1: 8 bytes from byte 0: volts bit4 high signed big\n"
              "  2: 1 bytes from byte 0: inputs\n"
              "  3: 20 bytes from byte 0: counts nine\n"
              "  4: 1 bytes from byte 0 (answered by the driver): override\n"
              "  5: 1 bytes from byte 0: relay\n"
              "  6: 2 bytes from byte 512: model\n");
}

TEST_F(PollTool, BadTagsAreRefusedBeforeAnythingIsPolled) {
    ToolResult r = poll({"--device", "/nonexistent", "--tags", file("missing.txt")});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("qarn: cannot read the tag list"), std::string::npos) << r.err;
    r = poll({"--device", "/nonexistent", "--plan", "a=1?HREG?400001?short",
              "b=1?HREG?400001?nosuchtype"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("qarn: argument 2 b: error -1: Tag URI error: 1?HREG?400001?nosuchtype"),
              std::string::npos)
        << r.err;
}

// The values the demo's devices hold whatever the time and seed.
const std::map<std::string, std::string> DemoConstants = {
    {"kWh_export", "2345"}, {"model_code", "24"},      {"fw_major", "1"}, {"fw_minor", "2"},
    {"meter_node", "1"},    {"inputs_1-4", "0,1,0,1"}, {"input_8", "1"},  {"relay_1", "0"},
    {"analog_10", "9"},     {"analog_11-12", "10,11"}, {"setpoint", "0"}, {"setpoint.4", "0"},
    {"io_node", "2"},
};

TEST(PollDemo, PollsTenCyclesThenWritesAndReadsBack) {
    const ToolResult r = simtest::runTool({"demo", "--seed", "42"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    int cycles = 0;
    int rows = 0;
    for (const std::string& line : lines(r.out)) {
        if (line.rfind("cycle ", 0) == 0) {
            ++cycles;
            EXPECT_EQ(line.substr(0, line.find(", 0 failed")),
                      "cycle " + std::to_string(cycles) + "/10: 10 requests")
                << line;
            continue;
        }
        std::istringstream fields(line);
        std::string name, tag, value;
        fields >> name >> tag >> value;
        if (tag.empty() || std::isdigit(static_cast<unsigned char>(tag[0])) == 0) {
            continue;  // not a row of the table
        }
        const auto constant = DemoConstants.find(name);
        if (constant != DemoConstants.end()) {
            ++rows;
            EXPECT_EQ(value, constant->second) << line;
        } else if (name.rfind("V_L", 0) == 0) {
            ++rows;
            const int volts = std::atoi(value.c_str());  // 0.1 V, near 230 V
            EXPECT_GT(volts, 2200) << line;
            EXPECT_LT(volts, 2400) << line;
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

TEST(PollDemo, LogsForProgramsAndTellsThePeopleOnStandardError) {
    const ToolResult r =
        simtest::runTool({"demo", "--format", "jsonl", "--count", "2", "--interval", "0"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> rows = lines(r.out);
    ASSERT_EQ(rows.size(), 2 * (DemoConstants.size() + 3 + 5 + 1)) << r.out;
    for (const std::string& row : rows) {
        EXPECT_FALSE(nlohmann::json::parse(row).contains("error")) << row;
    }
    EXPECT_NE(r.err.find("relay_1 (2?OUTP?1?boolean): was 0, wrote 1, read back 1\n"),
              std::string::npos)
        << r.err;

    const ToolResult refused = simtest::runTool({"demo", "--device", "/dev/ttyS0"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("--device: the demo sets up its own line"), std::string::npos);
}

}  // namespace
