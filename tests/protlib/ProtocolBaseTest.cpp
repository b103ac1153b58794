// The protocol base class through a scripted driver.

#include <gtest/gtest.h>

#include <chrono>
#include <tuple>

#include <qarn/plugin/HostServices.h>
#include "AllocationCounter.h"
#include "ErrorName.h"
#include "RecordingHost.h"
#include "TestDriver.h"

namespace {

const char Help[] =
    "help - displays this message\ninfo - displays information about the protocol version\nxml  "
    "- displays the protocol xml description\nread uri - reads data pointed by uri string\nwrite "
    "uri hexData - writes data pointed by uri string\nlasterror - displays the last protocol "
    "error\ngetmaxtm - displays the max time for executing a single read/write access\n";
const std::string BaseInfo =
    "Protocol: TEST (42) v.7\nImplementation: TestDriver v.3\nProtocolBase v.100\nProtLib v.200\n";

class ProtocolBaseTest : public ::testing::Test {
  protected:
    void TearDown() override {
        driver.DeleteTags();
        EXPECT_EQ(TestTag::live, 0);
    }
    const ITag* tag(const char* address) { return driver.CreateTag(address); }
    // "Name: text" of the last error, then overwritten; "accepted" when `result` holds.
    template <typename R = bool>
    std::string error(R result = false) {
        const std::string text =
            qarntest::lastError(driver.GetLastError(), driver.GetLastErrorString());
        driver.SetError(5, "reset");
        return result ? "accepted" : text;
    }
    // A console line into a reply of `size` bytes, up to its NUL or its end; the bytes past `size`
    // must stay as they were.
    std::string run(const char* command, int size = 512, int expected = 1) {
        std::memset(reply, '#', sizeof reply);
        EXPECT_EQ(driver.DoCommand(command, reply, size), expected) << command;
        EXPECT_EQ(std::string(reply + size, sizeof reply - size),
                  std::string(sizeof reply - size, '#'));
        return std::string(reply, strnlen(reply, static_cast<size_t>(size)));
    }

    TestDriver driver;
    char reply[1024];
};

TEST_F(ProtocolBaseTest, IdentityLastErrorAndUnsupportedOperations) {
    EXPECT_EQ(error(), "NoErrorYet: ");
    driver.SetIdent("");
    EXPECT_STREQ(driver.GetIdent(), "TEST");
    driver.SetError(ErrorCode::Communication, "timeout");  // success never clears an error
    EXPECT_TRUE(driver.Start() && tag("0?int"));
    EXPECT_EQ(error(), "Communication: timeout");
    for (const char* name : {"ProtocolBase", "IProtocol7", "IProtocol6", "IProtocol5", "IProtocol4",
                             "IProtocol3", "IProtocol2", "IProtocol"}) {
        EXPECT_EQ(driver.ConvertTo(name), static_cast<IProtocol*>(&driver)) << name;
    }
    EXPECT_EQ(error(driver.WriteBlock(tag("0?int"), nullptr, 4)),
              "NotAvailable: Optimized writing not supported");
    EXPECT_EQ(error(driver.writeObject(nullptr, nullptr)), "Refused: write object not supported");
    EXPECT_EQ(error(driver.addEventSource(nullptr, "x")),
              "Refused: protocol does not support event channel");
    EXPECT_EQ(error(driver.createAlarm("x")), "Refused: protocol does not support alarms");
    EXPECT_EQ(error(driver.createTrend("x")), "Refused: protocol does not support trends");
}

TEST_F(ProtocolBaseTest, TagListOwnsItsTags) {
    ITag* a = driver.CreateTag("0?int");
    ITag* b = driver.CreateTag("4?short");
    EXPECT_EQ(error(driver.CreateTag("0?Int(swap2)")),
              "Refused: Tag URI error: 0?Int(swap2) - Int(swap2): data type unknown");
    driver.FreeTag(a);
    driver.FreeTag(nullptr);
    driver.FreeTag(b->Clone());  // not listed, destroyed all the same
    EXPECT_EQ(TestTag::live, 1);
    auto* local = new TestDriver;  // whatever the host did not free dies with the protocol
    local->CreateTag("0?double-40");
    delete local;
    EXPECT_EQ(run("deletetags now"), std::string(512, '#'));  // the console's, too; no reply
    EXPECT_EQ(TestTag::live, 0);
}

TEST_F(ProtocolBaseTest, ReadConvertsTheRawImage) {
    // address, through ReadBitBlock, raw image, host value, bytes (or bits) asked of the driver
    const std::tuple<const char*, bool, Bytes, Bytes, int> cases[] = {
        {"0.5?boolean-6", false, {0xE0, 0x01}, {1, 1, 1, 1, 0, 0}, 2},
        {"0.2?boolean-13", true, {0xFC, 0x7F}, Bytes(13, 1), 13},
        {"0?unsignedByte-100", false, Bytes(100, 7), Bytes(100, 7), 100},  // beyond 64 bytes
    };
    for (const auto& [address, bitBlocks, raw, expected, length] : cases) {
        driver.bitBlocks = bitBlocks;
        std::copy(raw.begin(), raw.end(), driver.image.begin());
        Bytes value(expected.size(), 0xEE);
        EXPECT_TRUE(driver.Read(tag(address), value.data())) << address;
        EXPECT_EQ(value, expected) << address;
        EXPECT_EQ(driver.lastLength, length) << address;
    }
    uint8_t value[4] = {9, 9, 9, 9};
    EXPECT_EQ(error(driver.Read(tag("0?int(nosuch)"), value)), "Conversion: read conversion error");
    EXPECT_EQ(value[0], 9);
    driver.failRead = true;
    EXPECT_EQ(error(driver.Read(tag("0?int"), value)), "Communication: no answer");
}

TEST_F(ProtocolBaseTest, ArrayItemsReadAndWriteTheWholeArray) {
    const ITag* array = tag("0?short-4");
    std::copy_n(hexBytes("0a00 ecff 1e00 d8ff").begin(), 8, driver.image.begin());  // 10 -20 30 -40
    int16_t item = 0;
    auto* itemBytes = reinterpret_cast<uint8_t*>(&item);
    EXPECT_EQ(error(driver.readArrayItem(tag("0?int"), 0, itemBytes)),
              "Refused: accessing an array item where the tag is not array");
    EXPECT_EQ(error(driver.writeArrayItem(array, 4, itemBytes)),
              "Refused: accessing array item out of range");
    EXPECT_TRUE(driver.readArrayItem(array, 3, itemBytes) && item == -40);
    item = 77;
    EXPECT_TRUE(driver.writeArrayItem(array, 1, itemBytes));
    EXPECT_EQ(Bytes(driver.image.begin(), driver.image.begin() + 8),
              hexBytes("0a00 4d00 1e00 d8ff"));
    driver.failRead = true;  // the array is read first; without it nothing is written
    EXPECT_EQ(error(driver.writeArrayItem(array, 0, itemBytes)), "Communication: no answer");
    EXPECT_EQ(driver.writeCalls, 1);
}

TEST_F(ProtocolBaseTest, DatagramsAndTimeStamps) {
    struct Datagrams : TestDriver {
        bool ok = false;  // tags coexist, and a datagram read succeeds
        int MaxDatagramItems(const ITag*) const override { return 3; }
        int MaxDatagramLength(const ITag*) const override { return 14; }
        bool CanCoexistInDatagram(const ITag*, const ITag*) const override { return ok; }
        bool ReadDatagram(const ITag* const*, int, uint8_t*) override { return ok; }
    } dg;
    const ITag* list[] = {dg.CreateTag("0?int"), dg.CreateTag("4?short"), dg.CreateTag("8?double")};
    // Statuses and one wall-clock millisecond stamp for a datagram read; nothing when it fails.
    idal_error_t status[3] = {IDAL_NONE, IDAL_NONE, IDAL_NONE};
    uint64_t stamps[3] = {5, 5, 5};
    for (bool ok : {false, true}) {
        dg.ok = ok;
        EXPECT_EQ(dg.CanAddToDatagram(list, 2, list[2]), ok);  // 4 + 2 + 8 bytes in 3 items
        EXPECT_EQ(dg.readDatagramWithTimestamp(list, 2, nullptr, status, stamps), ok);
        EXPECT_EQ(std::vector<int>(status, status + 3), (std::vector<int>{ok, ok, 0}));
        EXPECT_TRUE(stamps[1] == stamps[0] && stamps[2] == 5 && (stamps[0] != 5) == ok);
    }
    // 16 bytes or a fourth item do not fit.
    EXPECT_FALSE(dg.CanAddToDatagram(list + 2, 1, list[2]) ||
                 dg.CanAddToDatagram(list, 3, list[1]));
    const auto wall = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::system_clock::now().time_since_epoch());
    EXPECT_NEAR(static_cast<double>(stamps[0]), static_cast<double>(wall.count()), 1000.0);
    uint8_t value[4];
    EXPECT_TRUE(driver.readWithTimestamp(tag("0?int"), value, stamps + 2) &&
                stamps[2] >= stamps[0]);
}

TEST_F(ProtocolBaseTest, TagOrderAndAddressFields) {
    const ITag* low = tag("0?int");
    const ITag* next = tag("4?int");
    EXPECT_TRUE(driver.IsBefore(low, next) && !driver.IsBefore(low, low));
    EXPECT_TRUE(driver.IsBefore(low, tag("-1?int")));  // offsets compare unsigned
    // IsAdjacent(first, second): second ends where first begins.
    EXPECT_TRUE(driver.IsAdjacent(next, low));
    EXPECT_FALSE(driver.IsAdjacent(low, next));
    EXPECT_TRUE(driver.IsAdjacent(tag("1?short"), tag("0.3?boolean-5")));
    EXPECT_FALSE(driver.IsAdjacent(tag("1?short"), tag("0.3?boolean-4")));
    const TestTag t("a?bb?c?");  // only the address string matters here
    const int starts[] = {0, 2, 5, 7}, lengths[] = {1, 2, 1, 0, -1};
    for (int i = 0; i < 5; ++i) {
        int length = -1;
        EXPECT_EQ(driver.getTagUriField(&t, i, &length),
                  i < 4 ? t.GetVarName() + starts[i] : nullptr);
        EXPECT_EQ(length, lengths[i]) << i;  // not written for a missing field
    }
}

TEST_F(ProtocolBaseTest, ConsoleRepliesAndTruncation) {
    for (const char* line : {" help", "HELP", "helpx"}) {
        EXPECT_EQ(run(line, 512, 0), std::string(512, '#')) << '"' << line << '"';
    }
    driver.SetError(ErrorCode::Communication, "no answer");
    std::copy_n(hexBytes("3412 aabbccdd").begin(), 6, driver.image.begin() + 6);
    // Words are trimmed of tabs too, extra words ignored; a reply exactly full has no terminator;
    // hex digits stop once 4 bytes or fewer are left.
    // clang-format off
    const std::tuple<const char*, int, std::string> cases[] = {
        {"\thelp me ", 512, Help}, {"help", 346, Help}, {"help", 10, "help - dis"},
        {"lasterror", 512, "no answer"}, {"xml", 512, ""}, {"getmaxtm", 512, "maxtm = 1500 ms\n"},
        {"read 6?unsignedShort(swap2)", 512, "1234\n"}, {"read 8?int", 10, "aabbcc\n"},
        {"read 8?int", 11, "aabbccdd\n"}, {"read 8?int", 1, ""},
        {"read  0?int", 512, "error: missing parameter (URI string)\n"},
        {"read 0?nosuch", 512, "Tag URI error: 0?nosuch - nosuch: data type unknown"},
        {"write 0?short", 512, "error: missing parameters (URI string + data)\n"},
        {"write 0?short 123", 512, "error: incorrect length of data to write\n"},
        {"write 0?short 12g4", 512, "error: incorrect hex data\n"}};
    // clang-format on
    for (const auto& [command, size, expected] : cases) {
        EXPECT_EQ(run(command, size), expected) << command << " into " << size;
    }
    EXPECT_EQ(run("read 0?unsignedByte-80", 1024).size(), 161u);  // beyond the local buffer
    EXPECT_EQ(driver.writeCalls, 0);
    EXPECT_EQ(run("write 4?unsignedShort(swap2) aBcD"), "written ok\n");
    EXPECT_EQ(Bytes(driver.image.begin() + 4, driver.image.begin() + 6), hexBytes("cdab"));
    driver.failWrite = true;
    EXPECT_EQ(run("write 0?short 1234"), "no answer");
    driver.xml = "compressedXML=12";
    EXPECT_EQ(run("xml", 20), std::string("compressedXML=12"));
    EXPECT_EQ(std::string(reply + 16, 4), std::string(4, '\0'));  // padded like strncpy
}

TEST_F(ProtocolBaseTest, InfoTextCountAndTerminator) {
    qarntest::RecordingHost host;  // service lines only for the services obtained
    piMultiTask = &host.multiTask();
    piSerialFactory = &host.serialFactory();
    EXPECT_EQ(run("info"), BaseInfo + "TestMultiTask v.3\nTestSerialFactory v.2\n");
    EXPECT_EQ(driver.GetInfo(reply, 200), static_cast<int>(run("info").size()));
    piMultiTask = nullptr, piSerialFactory = nullptr;
    EXPECT_EQ(driver.GetInfo(reply, 20), 20);  // full: the count is the size, no NUL follows
    EXPECT_EQ(run("info", 20), BaseInfo.substr(0, 20));
    driver.name = nullptr;  // a null name ends the text
    EXPECT_EQ(run("info"), "Protocol: ");
}

TEST_F(ProtocolBaseTest, WorkBuffersUseTheHeapOnlyAboveTheirSize) {
    // An array item reads the whole array: raw images up to 64 bytes, conversions and arrays up to
    // 256 bytes stay on the stack; above, each takes the heap once. A value without conversions
    // is copied as it is.
    uint8_t value[64];
    for (const auto& [address, heap] : {std::pair{"0?short-32(swap2)", 0},
                                        {"0?short-128", 1},
                                        {"0?short-129", 2},
                                        {"0?short-129(swap2)", 3}}) {
        const ITag* array = tag(address);
        EXPECT_EQ(
            qarntest::allocationsOf([&] { EXPECT_TRUE(driver.readArrayItem(array, 0, value)); }),
            heap)
            << address;
    }
}

}  // namespace
