// qarn poll and qarn demo as a user runs them: the tool against the simulator on a pty pair, with
// faults injected on the line, and the demo with its known values.

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "Profile.h"
#include "PtyServer.h"
#include "SlaveEngine.h"
#include "TempDir.h"
#include "ToolRun.h"

namespace {

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

class SimulatedLine {
  public:
    explicit SimulatedLine(const sim::FaultConfig& faults) : engine_(3) {
        engine_.addDevice(1, sim::parseProfile(KnownDevice, "known"));
        engine_.addDevice(2, sim::loadProfile("EM24"));
        engine_.setFaults(faults);
        sim::LineSettings line;
        line.baud = 38400;
        line.parity = sim::Parity::Even;
        // Answers in one piece: a paced sender that sleeps late on a busy machine splits them.
        line.pace = false;
        server_ = std::make_unique<simtest::PtyServer>(engine_, line);
        server_->start();
    }
    const std::string& path() const { return server_->path(); }
    std::string config(int timeoutMs) const {
        return "CfgVer=1 uart=" + path() +
               " baudrate=38400 parity=even bits=8 stopbits=1 mode=RS-485 defNodeId=1 "
               "model=GenericModbus repeat=0 timeout=" +
               std::to_string(timeoutMs) + " Node2::defNodeId=2 Node2::model=EM24";
    }

  private:
    sim::SlaveEngine engine_;
    std::unique_ptr<simtest::PtyServer> server_;
};

class PollTool : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(dir.path().empty());
        std::ofstream(tagFile) << TagFile;
    }

    ToolResult run(const std::vector<std::string>& args) const {
        std::vector<std::string> all = args;
        all.insert(all.end(), {"--store", dir.file("store.ini")});
        return runTool(dir.path(), all);
    }

    static std::vector<nlohmann::json> jsonLines(const std::string& text) {
        std::vector<nlohmann::json> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) {
            lines.push_back(nlohmann::json::parse(line));
        }
        return lines;
    }

    TempDir dir;
    std::string tagFile = dir.file("tags.txt");
};

struct LineFault {
    const char* what;
    sim::Fault fault;
    const char* text;  // on the tags of the request hit; null: no tag fails
};

TEST_F(PollTool, FaultsOnTheLineMarkTheTagsOfTheRequestHitAndPassWithIt) {
    const LineFault cases[] = {
        {"lost request", sim::Fault::Drop, "Communication error"},
        {"broken CRC", sim::Fault::BadCrc, "Communication error"},
        {"answer from another node", sim::Fault::WrongNode, "Incorrect node address in response"},
        {"device failure", sim::Fault::Exception, "Exception: Failure in device"},
        {"late answer within the time-out", sim::Fault::Delay, nullptr},
    };
    const uint32_t every = static_cast<uint32_t>(Requests.size()) + 1;
    for (const LineFault& c : cases) {
        SCOPED_TRACE(c.what);
        sim::FaultConfig faults;
        faults.rule(c.fault).every = every;
        faults.delayMs = 60;
        const SimulatedLine line(faults);
        const ToolResult r = run({"poll", "--config", line.config(400), "--tags", tagFile,
                                  "--format", "jsonl", "--count", "4", "--interval", "0"});
        const std::vector<nlohmann::json> lines = jsonLines(r.out);
        ASSERT_EQ(lines.size(), 4 * (Values.size() + 1)) << r.out << r.err;

        // Request 6 is the first of cycle 2, request 12 the second of cycle 3, and so on.
        std::map<std::pair<int, std::string>, bool> struck;
        for (uint32_t n = every; n <= 4 * Requests.size(); n += every) {
            const size_t cycle = (n - 1) / Requests.size() + 1;
            for (const std::string& name : Requests[(n - 1) % Requests.size()]) {
                struck[{static_cast<int>(cycle), name}] = c.text != nullptr;
            }
        }
        for (const nlohmann::json& j : lines) {
            const int cycle = j["cycle"];
            if (j.contains("summary")) {
                const bool hit = c.text != nullptr && cycle > 1;
                EXPECT_EQ(j["summary"]["requests"], Requests.size());
                EXPECT_EQ(j["summary"]["failed"], hit ? 1 : 0) << j;
                continue;
            }
            const std::string name = j["name"];
            if (struck[{cycle, name}]) {
                ASSERT_TRUE(j.contains("error")) << j;
                EXPECT_EQ(j["error"]["code"], -6) << j;
                EXPECT_EQ(j["error"]["text"], c.text) << j;
            } else {
                ASSERT_TRUE(j.contains("value")) << j;
                EXPECT_EQ(j["value"], Values.at(name)) << j;
            }
            EXPECT_EQ(j["time"].get<std::string>().size(), 24U) << j;
        }
        EXPECT_EQ(r.status, c.text != nullptr ? 1 : 0) << "the last cycle had a failure";
    }
}

TEST_F(PollTool, CsvTablePlanAndExitStatus) {
    const SimulatedLine line{sim::FaultConfig{}};
    // A value that does not convert fails its own tag only, not the request it came with.
    ToolResult r = run({"poll", "--config", line.config(300), "--format", "csv", "--count", "2",
                        "--interval", "0", "v=1?HREG?400001?unsignedShort", "1?IREG?300004?short",
                        "bcd=1?HREG?400005?unsignedShort(bcd)"});
    EXPECT_EQ(r.status, 1) << r.err;
    std::istringstream rows(r.out);
    std::vector<std::string> lines;
    for (std::string row; std::getline(rows, row);) {
        lines.push_back(row);
    }
    ASSERT_EQ(lines.size(), 7U) << r.out;
    EXPECT_EQ(lines[0], "time,cycle,name,tag,value,error");
    EXPECT_EQ(lines[4].substr(24), ",2,v,1?HREG?400001?unsignedShort,4660,");
    EXPECT_EQ(lines[5].substr(24), ",2,1?IREG?300004?short,1?IREG?300004?short,3,");
    EXPECT_EQ(lines[6].substr(24),
              ",2,bcd,1?HREG?400005?unsignedShort(bcd),,error -9: read conversion error");
    EXPECT_EQ(r.err, "qarn poll: last cycle: 2 requests, 0 failed, 1 tag in error, " +
                         r.err.substr(r.err.rfind(", ") + 2));

    r = run({"poll", "--config", line.config(300), "--format", "table", "--count", "1", "--tags",
             tagFile});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\nvolts     1?HREG?400001?unsignedShort     4660\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\ncycle 1/1: 5 requests, 0 failed, "), std::string::npos) << r.out;

    // The plan needs no line at all.
    r = run({"poll", "--config",
             "CfgVer=1 uart=/nonexistent baudrate=9600 parity=none bits=8 "
             "stopbits=1 mode=RS-485 defNodeId=1 model=GenericModbus "
             "Node2::defNodeId=2 Node2::model=EM24",
             "--plan", "--tags", tagFile});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "11 tags in 6 reads (5 on the line):\n"
              "  1: 8 bytes from byte 0: volts bit4 high signed big\n"
              "  2: 1 bytes from byte 0: inputs\n"
              "  3: 20 bytes from byte 0: counts nine\n"
              "  4: 1 bytes from byte 0 (answered by the driver): override\n"
              "  5: 1 bytes from byte 0: relay\n"
              "  6: 2 bytes from byte 512: model\n");

    // A node that nobody answers fails every cycle: exit status 1.
    r = run({"poll", "--config", line.config(100), "--format", "csv", "--count", "1",
             "9?HREG?400001?short"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(",,error -6: Communication error\n"), std::string::npos) << r.out;
}

TEST_F(PollTool, BadTagsAreRefusedBeforeAnythingIsPolled) {
    std::ofstream(dir.file("bad.txt")) << "ok 1?HREG?400001?short\nlonely\n";
    ToolResult r = run({"poll", "--device", "/nonexistent", "--tags", dir.file("bad.txt")});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("qarn: " + dir.file("bad.txt") + ":2: 'lonely' has no tag address"),
              std::string::npos)
        << r.err;

    r = run({"poll", "--device", "/nonexistent", "--tags", dir.file("missing.txt")});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("cannot read the tag list"), std::string::npos) << r.err;

    r = run({"poll", "--device", "/nonexistent", "--plan", "x=1?HREG?400001?short",
             "x=1?HREG?400002?short"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("argument 2: the name 'x' is already used at argument 1"),
              std::string::npos)
        << r.err;

    r = run({"poll", "--device", "/nonexistent", "--plan", "a=1?HREG?400001?short",
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

TEST_F(PollTool, DemoPollsTenCyclesThenWritesAndReadsBack) {
    const ToolResult r = runTool(dir.path(), {"demo", "--seed", "42"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;

    std::istringstream in(r.out);
    int cycles = 0;
    int rows = 0;
    for (std::string line; std::getline(in, line);) {
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

TEST_F(PollTool, DemoLogsForProgramsAndTellsThePeopleOnStandardError) {
    const ToolResult r =
        runTool(dir.path(), {"demo", "--format", "jsonl", "--count", "2", "--interval", "0"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<nlohmann::json> lines = jsonLines(r.out);
    ASSERT_EQ(lines.size(), 2 * (DemoConstants.size() + 3 + 5 + 1)) << r.out;
    for (const nlohmann::json& j : lines) {
        EXPECT_FALSE(j.contains("error")) << j;
    }
    EXPECT_NE(r.err.find("relay_1 (2?OUTP?1?boolean): was 0, wrote 1, read back 1\n"),
              std::string::npos)
        << r.err;

    const ToolResult refused = runTool(dir.path(), {"demo", "--device", "/dev/ttyS0"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("--device: the demo sets up its own line"), std::string::npos);

    const ToolResult tags = runTool(dir.path(), {"demo", "--show-tags"});
    EXPECT_EQ(tags.status, 0);
    EXPECT_NE(tags.out.find("\nsetpoint     2?HREG?400100?unsignedShort\n"), std::string::npos)
        << tags.out;
}

}  // namespace
