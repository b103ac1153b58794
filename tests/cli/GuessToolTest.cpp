// qarn guess, qarn types and range reads as a user runs them, against `qarn simulate` on a pty
// pair with a device whose registers hold known values.

#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "TempDir.h"
#include "ToolProcess.h"

namespace {

using Args = std::vector<std::string>;

// 230.5 as a float high word first at 400100; 400200 written by the test; "ABCDE" high byte
// first at 400300; a few known registers and coils from 400001 and 1 on.
const char* const Device =
    "hreg 400001..400400 uint16 0\n"
    "hreg 400001 uint16 0x4142\nhreg 400002 int16 -2\nhreg 400003 uint32 123456\n"
    "hreg 400100 float32 230.5\n"
    "hreg 400300 uint16 0x4142\nhreg 400301 uint16 0x4344\nhreg 400302 uint16 0x4500\n"
    "coil 1..40 0\ncoil 2 1\ncoil 17 1\ncoil 20 1\n";

class GuessTool : public ::testing::Test {
  protected:
    void SetUp() override {
        TempDir::write(dir.file("device.prof"), Device);
        simulator = std::make_unique<ToolProcess>(Args{"simulate", "--pty", "--slave",
                                                       "1:" + dir.file("device.prof"), "--baud",
                                                       "38400", "--no-pace"});
        device = simulator->line();
        ASSERT_FALSE(device.empty());
    }

    ToolResult run(Args args) const {
        args.insert(args.end(), {"--device", device, "--baud", "38400", "--timeout", "300",
                                 "--store", dir.file("store.ini")});
        return runTool(args);
    }

    // The tags of a guess's JSON list, best first.
    static std::vector<std::string> tags(const ToolResult& r) {
        std::vector<std::string> list;
        for (const auto& row : nlohmann::json::parse(r.out)) {
            list.push_back(row["tag"].get<std::string>());
        }
        return list;
    }

    TempDir dir;
    std::unique_ptr<ToolProcess> simulator;  // ends before its folder goes
    std::string device;
};

TEST_F(GuessTool, FindsTheByteOrderOfAFloatADoubleAndAString) {
    ASSERT_EQ(run({"write", "1?HREG?400200?unsignedShort-4", "0x3FF8,0,0,0"}).status, 0);
    const struct {
        Args args;
        std::string best;
    } cases[] = {
        {{"guess", "1?HREG?400100", "--value", "230.5"}, "1?HREG?400100?float(swap2,swap4)"},
        {{"guess", "1?HREG?400100", "--value", "230", "--tolerance", "0.5%"},
         "1?HREG?400100?float(swap2,swap4)"},
        {{"guess", "1?HREG?400200", "--value", "1.5"}, "1?HREG?400200?double(swap2,swap8)"},
        {{"guess", "1?HREG?400300", "--text", "ABCDE"}, "1?HREG?400300?string-6(swap2)"},
        // Unsigned and signed agree on a positive value: the unsigned type is listed first.
        {{"guess", "1?HREG?400003", "--value", "123456"}, "1?HREG?400003?unsignedInt(swap2,swap4)"},
        {{"guess", "1?HREG?400002", "--value", "-2"}, "1?HREG?400002?short"},
    };
    for (const auto& c : cases) {
        Args args = c.args;
        args.insert(args.end(), {"--format", "json"});
        const ToolResult r = run(args);
        SCOPED_TRACE(args[1] + " " + args[3] + "\n" + r.out + r.err);
        ASSERT_EQ(r.status, 0);
        const std::vector<std::string> found = tags(r);
        ASSERT_FALSE(found.empty());
        EXPECT_EQ(found.front(), c.best);
    }
    // The table says the same, the registers first, ready to paste.
    const ToolResult table = run({"guess", "1?HREG?400100", "--value", "230.5"});
    EXPECT_EQ(table.status, 0) << table.err;
    EXPECT_EQ(table.out.rfind("1?HREG?400100 +4 registers: 4366 8000 0000 0000\n", 0), 0U)
        << table.out;
    EXPECT_NE(table.out.find("\n1?HREG?400100?float(swap2,swap4)  230.5  0\n"), std::string::npos)
        << table.out;

    // Nothing decodes to 231 exactly: a failure, with the way on.
    const ToolResult none = run({"guess", "1?HREG?400100", "--value", "231"});
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("lists every interpretation"), std::string::npos) << none.err;
}

TEST_F(GuessTool, WithoutAValueEveryInterpretationIsListed) {
    const ToolResult r = run({"guess", "1?HREG?400100", "--format", "csv"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* row :
         {"tag,value\n1?HREG?400100?unsignedShort-4,\"0x4366,0x8000,0x0000,"
          "0x0000\"\n1?HREG?400100?unsignedShort,17254\n",
          "\n1?HREG?400100?short(swap2),26179\n", "\n\"1?HREG?400100?float(swap2,swap4)\",230.5\n",
          "\n\"1?HREG?400100?double(swap2,swap4,swap8)\",",
          "\n1?HREG?400100?string-8(swap2),Cf\\x80\n"}) {
        EXPECT_NE(r.out.find(row), std::string::npos) << row << "\n" << r.out;
    }
}

TEST_F(GuessTool, RangeReadsShowEachItemWithItsAddress) {
    const struct {
        Args args;
        std::string out;
    } cases[] = {
        {{"read", "--count", "3", "1?HREG?400001?unsignedShort", "--format", "csv"},
         "address,hex,value,unsigned,signed,ascii,error\n"
         "400001,4142,16706,16706,16706,AB,\n"
         "400002,FFFE,65534,65534,-2,..,\n"
         "400003,0001,1,1,1,..,\n"},
        {{"read", "--count", "2", "1?HREG?400003?int(swap2,swap4)", "--format", "csv"},
         "address,hex,value,error\n400003,0001 E240,123456,\n400005,0000 0000,0,\n"},
        {{"read", "--count", "2", "1?HREG?400099?float(swap2,swap4)"},
         "address  hex        value\n400099   0000 4366  2.4178e-41\n400101   8000 0000  -0\n"},
        {{"read", "--count", "4", "1?OUTP?17?boolean", "--format", "csv"},
         "address,hex,value,error\n17,,1,\n18,,0,\n19,,0,\n20,,1,\n"},
    };
    for (const auto& c : cases) {
        const ToolResult r = run(c.args);
        SCOPED_TRACE(c.args[3] + "\n" + r.err);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, c.out);
    }
    // Fifty registers in four requests, the values where they belong.
    const ToolResult json =
        run({"read", "--count", "50", "1?HREG?400001?short", "--format", "json", "--trace"});
    ASSERT_EQ(json.status, 0) << json.err;
    const nlohmann::json rows = nlohmann::json::parse(json.out);
    ASSERT_EQ(rows.size(), 50U);
    EXPECT_EQ(rows[1]["address"], "400002");
    EXPECT_EQ(rows[1]["value"], -2);
    EXPECT_EQ(rows[49]["address"], "400050");
    size_t requests = 0;
    for (size_t at = 0; (at = json.err.find(" TX ", at)) != std::string::npos; ++at) {
        ++requests;
    }
    EXPECT_EQ(requests, 4U) << json.err;

    // A failed request is no value.
    const ToolResult absent =
        run({"read", "--count", "2", "9?HREG?400001?short", "--repeat", "0", "--format", "csv"});
    EXPECT_EQ(absent.status, 1);
    EXPECT_NE(absent.out.find("\n400002,,,,,,\"error -6: "), std::string::npos) << absent.out;
}

TEST_F(GuessTool, BadDataTypesPointToTheTypeList) {
    for (const Args& args : {Args{"read", "1?HREG?400001?string(swap2)-8"},
                             Args{"read", "--count", "2", "1?HREG?400001?Float"},
                             Args{"write", "1?HREG?400001?shorty", "1"}}) {
        const ToolResult r = run(args);
        SCOPED_TRACE(args.back());
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("data type unknown ('qarn types' lists the data types"),
                  std::string::npos)
            << r.err;
    }
    const ToolResult types = runTool({"types"});
    EXPECT_EQ(types.status, 0) << types.err;
    EXPECT_NE(types.out.find("float(swap2,swap4)        0x4366 0x8000 -> 230.5\n"),
              std::string::npos)
        << types.out;
    const nlohmann::json list = nlohmann::json::parse(runTool({"types", "--format", "json"}).out);
    EXPECT_EQ(list["recipes"].size(), 9U);
    EXPECT_EQ(list["conversions"][0]["picture"], "AB CD -> BA DC");
}

}  // namespace
