// The diagnostic console and the information text.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "HostServices.h"
#include "IMultiTask2.h"
#include "ISerialFactory.h"
#include "ISocketFactory.h"
#include "TestDriver.h"

namespace {

const char Help[] =
    "help - displays this message\ninfo - displays information about the protocol version\nxml  "
    "- displays the protocol xml description\nread uri - reads data pointed by uri string\nwrite "
    "uri hexData - writes data pointed by uri string\nlasterror - displays the last protocol "
    "error\ngetmaxtm - displays the max time for executing a single read/write access\n";
const char BaseInfo[] =
    "Protocol: TEST (42) v.7\nImplementation: TestDriver v.3\nProtocolBase v.100\nProtLib v.200\n";
constexpr char Fill = '#';

template <typename Base>
struct FakeService : Base {
    FakeService(const char* n, int v) : name(n), version(v) {}
    void* ConvertTo(const char*) override { return nullptr; }
    const char* GetImpName() const override { return name; }
    int GetImpVersion() const override { return version; }
    const char* name;
    int version;
};
struct FakeMultiTask : FakeService<IMultiTask2> {
    using FakeService::FakeService;
    void Sleep(int) override {}
};
struct FakeSerialFactory : FakeService<ISerialFactory> {
    using FakeService::FakeService;
    ISerialPort* OpenSerial(const char*) override { return nullptr; }
    void CloseSerial(ISerialPort*) override {}
};
using FakeSocketFactory = FakeService<ISocketFactory>;

class ConsoleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::memset(reply, Fill, sizeof reply);
        liveBefore = TestTag::live;
    }
    void TearDown() override {
        piMultiTask = nullptr;
        piSerialFactory = nullptr;
        piSocketFactory = nullptr;
        // Temporary tags never stay behind.
        EXPECT_EQ(TestTag::live, liveBefore);
    }
    // Runs a command into a reply of `size` bytes; the reply's bytes past `size` must stay as
    // they were.
    std::string run(const char* command, int size = 512, int expected = 1) {
        std::memset(reply, Fill, sizeof reply);
        EXPECT_EQ(driver.DoCommand(command, reply, size), expected) << command;
        for (size_t i = static_cast<size_t>(size); i < sizeof reply; ++i) {
            EXPECT_EQ(reply[i], Fill) << command << " wrote past " << size;
            if (reply[i] != Fill) {
                break;
            }
        }
        return std::string(reply, strnlen(reply, static_cast<size_t>(size)));
    }

    TestDriver driver;
    char reply[1024];
    int liveBefore = 0;
};

}  // namespace

TEST_F(ConsoleTest, UnknownLinesLeaveTheReplyAlone) {
    for (const char* line : {"", " help", "HELP", "helpx", "xm", "setid 1 2"}) {
        EXPECT_EQ(run(line, 512, 0), std::string(512, Fill)) << '"' << line << '"';
    }
    EXPECT_EQ(driver.DoCommand(nullptr, reply, 512), 0);
}

TEST_F(ConsoleTest, TextCommandsCopyLikeStrncpy) {
    EXPECT_EQ(run("help"), Help);
    EXPECT_EQ(run("help me please"), Help);
    EXPECT_EQ(run("\thelp "), Help);  // words are trimmed of tabs too
    EXPECT_EQ(std::strlen(Help), 346u);
    // The rest of the reply is NUL-padded.
    EXPECT_EQ(std::string(reply + 346, 512 - 346), std::string(512 - 346, '\0'));
    // Exactly full or too short: no terminator.
    EXPECT_EQ(run("help", 346), Help);
    EXPECT_EQ(run("help", 10), "help - dis");

    driver.SetError(-6, "no answer");
    EXPECT_EQ(run("lasterror"), "no answer");
    EXPECT_EQ(run("xml"), "");
    EXPECT_EQ(reply[0], '\0');
    driver.xml = "compressedXML=12";
    EXPECT_EQ(run("xml"), "compressedXML=12");
    EXPECT_EQ(run("getmaxtm"), "maxtm = 1500 ms\n");
    EXPECT_EQ(run("getmaxtm", 8), "maxtm = ");
}

TEST_F(ConsoleTest, InfoText) {
    EXPECT_EQ(run("info"), BaseInfo);
    EXPECT_EQ(driver.GetInfo(reply, 200), static_cast<int>(std::strlen(BaseInfo)));

    FakeMultiTask multiTask("MultiTask", 12);
    FakeSocketFactory sockets("Sockets", 3);
    piMultiTask = &multiTask;
    piSocketFactory = &sockets;
    EXPECT_EQ(run("info"), std::string(BaseInfo) + "MultiTask v.12\nSockets v.3\n");
    FakeSerialFactory serial(nullptr, 1);
    piSerialFactory = &serial;
    EXPECT_EQ(run("info"), std::string(BaseInfo) + "MultiTask v.12\n");

    // Full buffer: the count equals the size and no NUL follows.
    std::memset(reply, Fill, sizeof reply);
    EXPECT_EQ(driver.GetInfo(reply, 20), 20);
    EXPECT_EQ(run("info", 20), std::string(BaseInfo, 20));
    EXPECT_EQ(driver.GetInfo(reply, 0), 0);

    driver.name = nullptr;
    EXPECT_EQ(run("info"), "Protocol: ");
    EXPECT_EQ(driver.GetInfo(reply, 200), 10);
}

TEST_F(ConsoleTest, ReadShowsTheHostValueInHex) {
    driver.image[6] = 0x34;
    driver.image[7] = 0x12;
    EXPECT_EQ(run("read 6?unsignedShort"), "3412\n");
    EXPECT_EQ(run("read 6?unsignedShort(swap2)"), "1234\n");
    const uint8_t bytes[4] = {0xAA, 0xBB, 0xCC, 0xDD};
    std::memcpy(driver.image.data() + 10, bytes, 4);
    // Digits stop once four bytes or fewer of the reply are left.
    EXPECT_EQ(run("read 10?int", 10), "aabbcc\n");
    EXPECT_EQ(run("read 10?int", 11), "aabbccdd\n");
    EXPECT_EQ(run("read 10?int", 2), "\n");
    EXPECT_EQ(run("read 10?int", 1), "");
    std::string big = run("read 0?unsignedByte-80", 1024);
    EXPECT_EQ(big.size(), 161u);
}

TEST_F(ConsoleTest, ReadErrors) {
    const char* missing = "error: missing parameter (URI string)\n";
    EXPECT_EQ(run("read"), missing);
    EXPECT_EQ(run("read  0?int"), missing);
    EXPECT_EQ(run("read 0?int extra"), missing);
    EXPECT_EQ(run("read 0?nosuch"), "Tag URI error: 0?nosuch - nosuch: data type unknown");
    EXPECT_EQ(run("read 0?int(bogus)"), "read conversion error");
    driver.failRead = true;
    EXPECT_EQ(run("read 0?int"), "no answer");
}

TEST_F(ConsoleTest, WriteParsesHexIntoTheHostValue) {
    EXPECT_EQ(run("write 4?unsignedShort 3412"), "written ok\n");
    EXPECT_EQ(driver.image[4], 0x34);
    EXPECT_EQ(driver.image[5], 0x12);
    EXPECT_EQ(run("write 4?unsignedShort(swap2) aBcD"), "written ok\n");
    EXPECT_EQ(driver.image[4], 0xCD);
    EXPECT_EQ(driver.image[5], 0xAB);
    EXPECT_EQ(driver.writeCalls, 2);
}

TEST_F(ConsoleTest, WriteErrorsTouchNoDevice) {
    const char* missing = "error: missing parameters (URI string + data)\n";
    const char* length = "error: incorrect length of data to write\n";
    const char* hex = "error: incorrect hex data\n";
    const std::pair<const char*, const char*> cases[] = {
        {"write", missing},
        {"write 0?short", missing},
        {"write 0?short  1234", missing},
        {"write 0?short 1234 5", missing},
        {"write 0?short 123", length},
        {"write 0?short 12345", length},
        {"write 0?short 12g4", hex},
        {"write 0?short g234", hex},
        {"write 0?short 123 ", missing},
        {"write 0?Short 1234", "Tag URI error: 0?Short - Short: data type unknown"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run(c.first), c.second) << c.first;
    }
    EXPECT_EQ(driver.writeCalls, 0);
    driver.failWrite = true;
    EXPECT_EQ(run("write 0?short 1234"), "no answer");
    driver.failWrite = false;
    EXPECT_EQ(run("write 0?int(nope) 01020304"), "write conversion error");
    EXPECT_EQ(driver.image[0], 0);
}

TEST_F(ConsoleTest, DeleteTagsDestroysHostTags) {
    driver.CreateTag("0?int");
    driver.CreateTag("4?int");
    EXPECT_EQ(TestTag::live, liveBefore + 2);
    EXPECT_EQ(run("deletetags now"), std::string(512, Fill));
    EXPECT_EQ(TestTag::live, liveBefore);
}
