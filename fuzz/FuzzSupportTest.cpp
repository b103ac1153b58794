#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "DriverRig.h"
#include "FuzzInput.h"
#include "HostServices.h"
#include "ReplayFiles.h"

namespace {

using namespace qarnfuzz;
using qarntest::hexBytes;
using qarntest::toHex;

FuzzInput inputOf(const Bytes& bytes) {
    return FuzzInput(bytes.data(), bytes.size());
}

TEST(FuzzInputTest, ReadsInOrderAndYieldsZerosPastTheEnd) {
    const Bytes data = hexBytes("12 34 05 41 42 0A 43");
    FuzzInput in = inputOf(data);
    EXPECT_EQ(in.word(), 0x1234);
    EXPECT_EQ(in.below(3), 2u);  // 5 % 3
    EXPECT_EQ(in.line(), "AB");
    EXPECT_EQ(in.remaining(), 1u);
    EXPECT_EQ(in.line(), "C");
    EXPECT_TRUE(in.empty());
    EXPECT_EQ(in.byte(), 0);
    EXPECT_EQ(in.word(), 0);
    EXPECT_TRUE(in.chunk().empty());
    EXPECT_EQ(in.below(0), 0u);
}

TEST(FuzzInputTest, ChunkIsCutShortAtTheEnd) {
    const Bytes data = hexBytes("02 AA BB 05 CC");
    FuzzInput in = inputOf(data);
    EXPECT_EQ(toHex(in.chunk()), "AA BB");
    EXPECT_EQ(toHex(in.chunk()), "CC");
    EXPECT_TRUE(in.empty());
}

// Answer script entries: mode byte, then a chunk.
TEST(AnswerScriptTest, DecodesEveryMode) {
    struct Case {
        const char* input;
        bool delivers;
        const char* bytes;
        bool stale;
        size_t consumed;
    };
    const Case cases[] = {
        {"00 03 01 02 03", false, "", false, 1},
        {"08", false, "", true, 1},
        {"01 03 01 83 02", true, "01 83 02", false, 5},
        // The CRC of 01 03 00 00 00 0A is C5 CD.
        {"02 06 01 03 00 00 00 0A", true, "01 03 00 00 00 0A C5 CD", false, 8},
        {"03 04 00 00 00 0A", true, "07 03 00 00 00 0A C5 AB", false, 6},
        {"06 06 01 03 00 00 00 0A", true, "0A 01 03 00 00 00 0A C5 CD 0D", false, 8},
        {"0D 00", true, "0A 0D", true, 2},
        {"02 09 01", true, "01 7E 80", false, 3},
    };
    AnswerHint hint;
    hint.node = 7;
    hint.function = 3;
    for (const Case& c : cases) {
        const Bytes data = hexBytes(c.input);
        FuzzInput in = inputOf(data);
        bool stale = false;
        const ScriptedAnswer answer = decodeAnswer(in, hint, stale);
        EXPECT_EQ(answer.delivers, c.delivers) << c.input;
        EXPECT_EQ(toHex(answer.bytes), c.bytes) << c.input;
        EXPECT_EQ(stale, c.stale) << c.input;
        EXPECT_EQ(data.size() - in.remaining(), c.consumed) << c.input;
    }
}

TEST(AnswerScriptTest, PortDeliversTheQueueInOrder) {
    qarntest::ScriptedSerialPort port;
    const Bytes data = hexBytes("0A 02 01 02  00  01 01 FF");
    FuzzInput in = inputOf(data);
    const std::vector<ScriptedAnswer> answers = queueAnswers(in, port, 3, AnswerHint{});
    ASSERT_EQ(answers.size(), 3u);
    EXPECT_EQ(port.Drain(nullptr, 0, 0), 1);  // the stale round asked for by the first entry
    EXPECT_EQ(port.Drain(nullptr, 0, 0), 0);
    uint8_t buffer[256];
    for (const ScriptedAnswer& expected : answers) {
        int received = 0;
        const int result = port.Receive(buffer, sizeof buffer, 100, 10, &received, 0);
        EXPECT_EQ(result != 0, expected.delivers);
        if (expected.delivers) {
            EXPECT_EQ(toHex(Bytes(buffer, buffer + received)), toHex(expected.bytes));
        }
    }
    EXPECT_EQ(port.pendingAnswers(), 0);
}

TEST(DriverRigTest, ReadsThroughTheScriptedPortAndReleasesTheHost) {
    {
        DriverRig rig;
        ASSERT_TRUE(rig.configure(std::string(LineConfig) + "defNodeId=1 model=GenericModbus"))
            << rig.lastError();
        ASSERT_TRUE(rig.protocol->Start()) << rig.lastError();
        rig.port.answer(qarntest::withCrc(hexBytes("01 03 02 12 34")));
        ITag* tag = rig.protocol->CreateTag("1?HREG?400001?unsignedShort");
        ASSERT_NE(tag, nullptr) << rig.lastError();
        uint16_t value = 0;
        ASSERT_TRUE(rig.protocol->Read(tag, reinterpret_cast<uint8_t*>(&value))) << rig.lastError();
        EXPECT_EQ(value, 0x1234);
        ASSERT_EQ(rig.port.requests().size(), 1u);
        EXPECT_EQ(toHex(rig.port.requests()[0]),
                  toHex(qarntest::withCrc(hexBytes("01 03 00 00 00 01"))));
        EXPECT_FALSE(rig.configure("no marker"));
        EXPECT_EQ(rig.lastError(), "-1 Parser: unknown format");
    }
    EXPECT_EQ(piSerialFactory, nullptr);
    EXPECT_EQ(piMultiTask, nullptr);
    EXPECT_EQ(piPermanentStorage, nullptr);
}

class CollectInputsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root =
            std::filesystem::temp_directory_path() / ("qarn-replay-" + std::to_string(::getpid()));
        std::filesystem::create_directories(root / "b" / "deep");
        std::filesystem::create_directories(root / "empty");
        for (const char* name : {"b/deep/z", "b/a", "c"}) {
            std::ofstream(root / name) << name;
        }
    }
    void TearDown() override { std::filesystem::remove_all(root); }
    std::string at(const char* name) const { return (root / name).string(); }

    std::filesystem::path root;
};

TEST_F(CollectInputsTest, FoldersAreSearchedAndSortedFilesKept) {
    std::vector<std::string> files;
    std::string error;
    ASSERT_TRUE(collectInputs({"-runs=0", at("c"), at("b"), at("empty")}, files, error)) << error;
    EXPECT_EQ(files, (std::vector<std::string>{at("c"), at("b/a"), at("b/deep/z")}));
}

TEST_F(CollectInputsTest, AMissingPathIsAnError) {
    std::vector<std::string> files;
    std::string error;
    EXPECT_FALSE(collectInputs({at("c"), at("nothing")}, files, error));
    EXPECT_EQ(error, at("nothing") + ": no such file or folder");
}

}  // namespace
