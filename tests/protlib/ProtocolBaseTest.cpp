// The protocol base class through a scripted driver: defaults, tag list, reads, array items,
// datagrams, time stamps, tag order and address fields, the console and info text, the node-id
// text forms, and reads and writes that stay off the heap.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <new>
#include <tuple>

#include "AddressReplacerID.h"
#include "HostServices.h"
#include "IMultiTask2.h"
#include "ISerialFactory.h"
#include "ISocketFactory.h"
#include "TestDriver.h"

namespace {

using Bytes = std::vector<uint8_t>;

const char Help[] =
    "help - displays this message\ninfo - displays information about the protocol version\nxml  "
    "- displays the protocol xml description\nread uri - reads data pointed by uri string\nwrite "
    "uri hexData - writes data pointed by uri string\nlasterror - displays the last protocol "
    "error\ngetmaxtm - displays the max time for executing a single read/write access\n";
const char BaseInfo[] =
    "Protocol: TEST (42) v.7\nImplementation: TestDriver v.3\nProtocolBase v.100\nProtLib v.200\n";
constexpr char Fill = '#';

// A host service that names itself, as the info text reads it; the pure operations of the three
// services it stands for do nothing.
template <typename Base>
struct Service : Base {
    void* ConvertTo(const char*) override { return nullptr; }
    const char* GetImpName() const override { return name; }
    int GetImpVersion() const override { return 3; }
    void Sleep(int) {}
    ISerialPort* OpenSerial(const char*) { return nullptr; }
    void CloseSerial(ISerialPort*) {}
    const char* name = nullptr;
};

// Every operator new of this program is counted while counting is on. All forms are replaced,
// since the sanitizer runtime would otherwise serve the ones left out.
bool counting = false;
int allocations = 0;
void* allocate(std::size_t size) noexcept {
    allocations += counting ? 1 : 0;
    return std::malloc(size != 0 ? size : 1);
}
template <typename F>
int allocationsOf(F body) {
    allocations = 0;
    counting = true;
    body();
    counting = false;
    return allocations;
}

class ProtocolBaseTest : public ::testing::Test {
  protected:
    void TearDown() override {
        piMultiTask = nullptr;
        piSerialFactory = nullptr;
        piSocketFactory = nullptr;
        driver.DeleteTags();
        EXPECT_EQ(LiveCount::live, liveBefore);
    }
    const ITag* tag(const char* address) { return driver.CreateTag(address); }
    // Checks the last error, then overwrites it so the next check sees only what comes after.
    void expectError(int code, const char* text) {
        EXPECT_EQ(driver.GetLastError(), code);
        EXPECT_STREQ(driver.GetLastErrorString(), text);
        driver.SetError(5, "reset");
    }
    // An unsupported operation answers false or null and records why.
    template <typename R>
    void refused(R result, int code, const char* text) {
        EXPECT_FALSE(result) << text;
        expectError(code, text);
    }
    // Runs a console line into a reply of `size` bytes; the bytes past `size` must stay as they
    // were. Returns the reply up to its NUL or its end.
    std::string run(const char* command, int size = 512, int expected = 1) {
        std::memset(reply, Fill, sizeof reply);
        EXPECT_EQ(driver.DoCommand(command, reply, size), expected) << command;
        EXPECT_EQ(std::string(reply + size, sizeof reply - size),
                  std::string(sizeof reply - size, Fill))
            << command;
        return std::string(reply, strnlen(reply, static_cast<size_t>(size)));
    }

    int liveBefore = LiveCount::live;
    TestDriver driver;
    char reply[1024];
};

TEST_F(ProtocolBaseTest, FreshInstanceIdentityAndInterfaceNames) {
    EXPECT_EQ(driver.GetLastError(), 1);
    EXPECT_STREQ(driver.GetLastErrorString(), "");
    driver.SetIdent("");
    EXPECT_STREQ(driver.GetIdent(), "TEST");
    driver.SetIdent("line 2");
    EXPECT_STREQ(driver.GetIdent(), "line 2");
    EXPECT_STREQ(driver.GetNextInstanceName(), "TEST");
    driver.SetError(-6, "timeout");  // success never clears an error
    EXPECT_TRUE(driver.Start() && tag("0?int"));
    expectError(-6, "timeout");
    for (const char* name : {"ProtocolBase", "IProtocol7", "IProtocol6", "IProtocol5", "IProtocol4",
                             "IProtocol3", "IProtocol2", "IProtocol"}) {
        EXPECT_EQ(driver.ConvertTo(name), static_cast<IProtocol*>(&driver)) << name;
    }
    for (const char* name : {"IProtocol8", "iprotocol", "IProtocol ", "IInterface"}) {
        EXPECT_EQ(driver.ConvertTo(name), nullptr) << name;
    }
}

TEST_F(ProtocolBaseTest, UnsupportedOperationsReportTheirError) {
    const ITag* t = tag("0?int");
    const char* const events = "protocol does not support event channel";
    refused(driver.WriteBlock(t, nullptr, 4), -3, "Optimized writing not supported");
    refused(driver.readObject(t, nullptr), -1, "read object not supported");
    refused(driver.writeObject(t, nullptr), -1, "write object not supported");
    refused(driver.createEventChannel(1), -1, events);
    refused(driver.createEventChannel(static_cast<IEventProcessor*>(nullptr)), -1, events);
    refused(driver.addEventSource(nullptr, "x"), -1, events);
    refused(driver.addAlarmEvents(nullptr, nullptr), -1, events);
    refused(driver.createAlarm("x"), -1, "protocol does not support alarms");
    refused(driver.createTrend("x"), -1, "protocol does not support trends");
    EXPECT_EQ(driver.MaxUnusedGap(t), 0xFFFFFF);
}

TEST_F(ProtocolBaseTest, TagListOwnsItsTags) {
    ITag* a = driver.CreateTag("0?int");
    ITag* b = driver.CreateTag("4?short");
    EXPECT_EQ(driver.CreateTag("0?Int(swap2)"), nullptr);
    expectError(-1, "Tag URI error: 0?Int(swap2) - Int(swap2): data type unknown");
    EXPECT_EQ(LiveCount::live, liveBefore + 2);
    driver.FreeTag(a);
    driver.FreeTag(nullptr);
    driver.FreeTag(b->Clone());  // not listed, destroyed all the same
    EXPECT_EQ(LiveCount::live, liveBefore + 1);
    driver.CreateTag("8?int");
    driver.DeleteTags();
    EXPECT_EQ(LiveCount::live, liveBefore);
    auto* local = new TestDriver;  // whatever the host did not free dies with the protocol
    local->CreateTag("0?double-40");
    delete local;
    EXPECT_EQ(LiveCount::live, liveBefore);
}

TEST_F(ProtocolBaseTest, ReadConvertsTheRawImage) {
    // address, through ReadBitBlock, raw image, host value, bytes (or bits) asked of the driver
    const std::tuple<const char*, bool, Bytes, Bytes, int> cases[] = {
        {"0?unsignedShort(swap2)", false, {0x12, 0x34}, {0x34, 0x12}, 2},
        {"0.5?boolean-6", false, {0xE0, 0x01}, {1, 1, 1, 1, 0, 0}, 2},
        {"0.2?boolean", true, {0x04}, {1}, 1},
        {"0.2?boolean-13", true, {0xFC, 0x7F}, Bytes(13, 1), 13},
        {"0?int", true, {1, 2, 3, 4}, {1, 2, 3, 4}, 32},
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
    driver.failRead = true;
    EXPECT_FALSE(driver.Read(tag("0?int"), value));
    expectError(-6, "no answer");
    driver.failRead = false;
    EXPECT_FALSE(driver.Read(tag("0?int(nosuch)"), value));
    expectError(-9, "read conversion error");
    EXPECT_EQ(value[0], 9);
}

TEST_F(ProtocolBaseTest, ArrayItemsReadAndWriteTheWholeArray) {
    const ITag* array = tag("0?short-4");
    std::copy_n(hex("0a00 ecff 1e00 d8ff").begin(), 8, driver.image.begin());  // 10 -20 30 -40
    int16_t item = 0;
    auto* itemBytes = reinterpret_cast<uint8_t*>(&item);
    EXPECT_FALSE(driver.readArrayItem(tag("0?int"), 0, itemBytes));
    expectError(-1, "accessing an array item where the tag is not array");
    EXPECT_FALSE(driver.readArrayItem(array, 4, itemBytes));
    expectError(-1, "accessing array item out of range");
    EXPECT_FALSE(driver.writeArrayItem(array, -1, itemBytes));
    expectError(-1, "accessing array item out of range");
    EXPECT_EQ(driver.readCalls, 0);

    EXPECT_TRUE(driver.readArrayItem(array, 3, itemBytes));
    EXPECT_EQ(item, -40);
    item = 77;
    EXPECT_TRUE(driver.writeArrayItem(array, 1, itemBytes));
    EXPECT_EQ(Bytes(driver.image.begin(), driver.image.begin() + 8), hex("0a00 4d00 1e00 d8ff"));
    driver.failRead = true;
    EXPECT_FALSE(driver.writeArrayItem(array, 0, itemBytes));
    expectError(-6, "no answer");
    EXPECT_EQ(driver.writeCalls, 1);
    driver.failRead = false;
    driver.image[598] = 0x42;  // beyond 256 bytes
    EXPECT_TRUE(driver.readArrayItem(tag("0?unsignedShort-300"), 299, itemBytes));
    EXPECT_EQ(item, 0x42);
}

TEST_F(ProtocolBaseTest, DatagramsAndTimeStamps) {
    struct Datagrams : TestDriver {
        int items = 3, length = 14;
        bool coexist = true, ok = false;
        int MaxDatagramItems(const ITag*) const override { return items; }
        int MaxDatagramLength(const ITag*) const override { return length; }
        bool CanCoexistInDatagram(const ITag*, const ITag*) const override { return coexist; }
        bool ReadDatagram(const ITag* const*, int, uint8_t*) override { return ok; }
    } dg;
    const ITag* list[] = {dg.CreateTag("0?int"), dg.CreateTag("4?short"), dg.CreateTag("8?double")};
    EXPECT_FALSE(driver.CanAddToDatagram(list, 2, list[2]));  // base answers admit nothing
    EXPECT_TRUE(dg.CanAddToDatagram(list, 2, list[2]));       // 4 + 2 + 8 bytes, 3 items
    dg.length = 13;
    EXPECT_FALSE(dg.CanAddToDatagram(list, 2, list[2]));
    dg.length = 100;
    EXPECT_FALSE(dg.CanAddToDatagram(list, 3, list[2]));
    dg.coexist = false;
    EXPECT_FALSE(dg.CanAddToDatagram(list, 2, list[2]));

    idal_error_t status[3] = {IDAL_NONE, IDAL_NONE, IDAL_NONE};
    uint64_t stamps[3] = {5, 5, 5};
    EXPECT_FALSE(dg.readDatagramWithTimestamp(list, 2, nullptr, status, stamps));
    EXPECT_EQ(std::make_pair(status[0], stamps[0]), std::make_pair(IDAL_NONE, uint64_t{5}));
    dg.ok = true;
    const uint64_t before = currentTimeStamp();
    EXPECT_TRUE(dg.readDatagramWithTimestamp(list, 2, nullptr, status, stamps));
    EXPECT_EQ(std::vector<int>(status, status + 3), (std::vector<int>{IDAL_READ, IDAL_READ, 0}));
    EXPECT_EQ(std::vector<uint64_t>(stamps + 1, stamps + 3), (std::vector<uint64_t>{stamps[0], 5}));
    const auto wall = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::system_clock::now().time_since_epoch());
    EXPECT_NEAR(static_cast<double>(before), static_cast<double>(wall.count()), 1000.0);

    const ITag* t = tag("0?int");
    for (bool fail : {false, true}) {
        driver.failRead = fail;
        uint8_t value[4];
        uint64_t s[3] = {0, 0, 0};
        EXPECT_EQ(driver.readWithTimestamp(t, value, &s[0]), !fail);
        EXPECT_EQ(driver.readBlockWithTimestamp(t, value, 4, &s[1]), !fail);
        EXPECT_EQ(driver.readBitBlockWithTimestamp(t, value, 32, &s[2]), !fail);
        for (uint64_t stamp : s) {
            EXPECT_EQ(stamp >= before, !fail);  // no stamp on failure
        }
    }
}

TEST_F(ProtocolBaseTest, TagOrderAndAddressFields) {
    const ITag* low = tag("0?int");
    const ITag* next = tag("4?int");
    EXPECT_TRUE(driver.IsBefore(low, next));
    EXPECT_FALSE(driver.IsBefore(low, low));
    EXPECT_TRUE(driver.IsBefore(low, tag("-1?int")));  // offsets compare unsigned
    // IsAdjacent(first, second): second ends where first begins.
    EXPECT_TRUE(driver.IsAdjacent(next, low));
    EXPECT_FALSE(driver.IsAdjacent(low, next));
    EXPECT_TRUE(driver.IsAdjacent(tag("1?short"), tag("0.3?boolean-5")));
    EXPECT_FALSE(driver.IsAdjacent(tag("1?short"), tag("0.3?boolean-4")));

    EXPECT_EQ(driver.getTagUriFieldCount(), 0);
    EXPECT_EQ(driver.getTagUriFieldName(0), nullptr);
    EXPECT_EQ(driver.getTagUriFieldPosition("nodeid"), -1);
    struct NamedFields : TestDriver {
        const char* const* tagUriNames() const override {
            static const char* const names[] = {"offset", "type", nullptr};
            return names;
        }
    } named;
    EXPECT_EQ(named.getTagUriFieldCount(), 2);
    EXPECT_STREQ(named.getTagUriFieldName(1), "type");
    EXPECT_EQ(named.getTagUriFieldName(2), nullptr);
    EXPECT_EQ(named.getTagUriFieldPosition("type"), 1);
    EXPECT_EQ(named.getTagUriFieldPosition("Type"), -1);

    const TestTag t("a?bb?c?");  // only the address string matters here
    const int starts[] = {0, 2, 5, 7}, lengths[] = {1, 2, 1, 0, -1};
    for (int i = 0; i < 5; ++i) {
        int length = -1;
        const char* field = driver.getTagUriField(&t, i, &length);
        EXPECT_EQ(field, i < 4 ? t.GetVarName() + starts[i] : nullptr) << i;
        EXPECT_EQ(length, lengths[i]) << i;  // not written for a missing field
    }
}

TEST_F(ProtocolBaseTest, ConsoleRepliesAndTruncation) {
    for (const char* line : {"", " help", "HELP", "helpx", "setid 1 2"}) {
        EXPECT_EQ(run(line, 512, 0), std::string(512, Fill)) << '"' << line << '"';
    }
    const std::string missingUri = "error: missing parameter (URI string)\n";
    const std::string missingData = "error: missing parameters (URI string + data)\n";
    const std::string badHex = "error: incorrect hex data\n";
    driver.SetError(-6, "no answer");
    std::copy_n(hex("3412 aabbccdd").begin(), 6, driver.image.begin() + 6);
    const std::tuple<const char*, int, std::string> cases[] = {
        {"\thelp me ", 512, Help},  // words are trimmed of tabs too, extra words ignored
        {"help", 346, Help},        // exactly full: no terminator
        {"help", 10, "help - dis"},
        {"lasterror", 512, "no answer"},
        {"xml", 512, ""},
        {"getmaxtm", 512, "maxtm = 1500 ms\n"},
        {"read 6?unsignedShort", 512, "3412\n"},
        {"read 6?unsignedShort(swap2)", 512, "1234\n"},
        {"read 8?int", 10, "aabbcc\n"},  // digits stop once 4 bytes or fewer are left
        {"read 8?int", 11, "aabbccdd\n"},
        {"read 8?int", 2, "\n"},
        {"read 8?int", 1, ""},
        {"read", 512, missingUri},
        {"read  0?int", 512, missingUri},
        {"read 0?nosuch", 512, "Tag URI error: 0?nosuch - nosuch: data type unknown"},
        {"read 0?int(bogus)", 512, "read conversion error"},
        {"write", 512, missingData},
        {"write 0?short  1234", 512, missingData},
        {"write 0?short 123", 512, "error: incorrect length of data to write\n"},
        {"write 0?short 12g4", 512, badHex},
        {"write 0?short g234", 512, badHex},
        {"write 0?Short 1234", 512, "Tag URI error: 0?Short - Short: data type unknown"},
    };
    for (const auto& [command, size, expected] : cases) {
        EXPECT_EQ(run(command, size), expected) << command << " into " << size;
    }
    EXPECT_EQ(run("read 0?unsignedByte-80", 1024).size(), 161u);  // beyond the local buffer
    EXPECT_EQ(driver.writeCalls, 0);
    EXPECT_EQ(run("write 4?unsignedShort(swap2) aBcD"), "written ok\n");
    EXPECT_EQ(Bytes(driver.image.begin() + 4, driver.image.begin() + 6), hex("cdab"));
    driver.failWrite = true;
    EXPECT_EQ(run("write 0?short 1234"), "no answer");
    driver.failRead = true;
    driver.SetError(1, "");
    EXPECT_EQ(run("read 0?int"), "no answer");
    driver.xml = "compressedXML=12";
    EXPECT_EQ(run("xml", 20), std::string("compressedXML=12"));
    EXPECT_EQ(std::string(reply + 16, 4), std::string(4, '\0'));  // padded like strncpy
    driver.CreateTag("0?int");  // tags the host still holds die too; nothing is written
    EXPECT_EQ(run("deletetags now"), std::string(512, Fill));
    EXPECT_EQ(LiveCount::live, liveBefore);
}

TEST_F(ProtocolBaseTest, InfoTextCountAndTerminator) {
    EXPECT_EQ(run("info"), BaseInfo);
    EXPECT_EQ(driver.GetInfo(reply, 200), static_cast<int>(std::strlen(BaseInfo)));
    Service<IMultiTask2> multiTask;
    Service<ISerialFactory> serial;
    Service<ISocketFactory> sockets;
    multiTask.name = "Tasks", serial.name = "Serial", sockets.name = "Sockets";
    piMultiTask = &multiTask;
    piSocketFactory = &sockets;
    EXPECT_EQ(run("info"), std::string(BaseInfo) + "Tasks v.3\nSockets v.3\n");
    piSerialFactory = &serial;
    EXPECT_EQ(run("info"), std::string(BaseInfo) + "Tasks v.3\nSerial v.3\nSockets v.3\n");
    EXPECT_EQ(driver.GetInfo(reply, 20), 20);  // full: the count is the size, no NUL follows
    EXPECT_EQ(run("info", 20), std::string(BaseInfo, 20));
    driver.name = nullptr;  // a null name ends the text
    EXPECT_EQ(run("info"), "Protocol: ");
}

TEST_F(ProtocolBaseTest, OrdinaryReadsWritesAndErrorsStayOffTheHeap) {
    const ITag* scalar = tag("0?int(swap2,neg)");
    const ITag* block = tag("0?unsignedShort-32(swap2)");  // 64 bytes
    const ITag* bits = tag("0.5?boolean-60(inv)");
    const ITag* bad = tag("0?int(nosuchconversion)");
    const ITag* array = tag("0?short-32");
    uint8_t value[256] = {};
    EXPECT_EQ(allocationsOf([&] {
                  for (const ITag* t : {scalar, block, bits}) {
                      EXPECT_TRUE(driver.Read(t, value) && driver.Write(t, value));
                  }
                  EXPECT_TRUE(driver.readArrayItem(array, 31, value));
                  EXPECT_FALSE(driver.Read(bad, value) || driver.Write(bad, value));
                  driver.failRead = true;
                  EXPECT_FALSE(driver.Read(scalar, value));
                  EXPECT_FALSE(driver.readArrayItem(array, 32, value));
                  EXPECT_FALSE(driver.WriteBlock(scalar, value, 4));
              }),
              0);
    EXPECT_EQ(static_cast<const TagBase*>(bad)->getErrorText(),
              "Conversion error at: nosuchconversion");
    // Above a local buffer the heap is used once for it: raw images above 64 bytes, conversions
    // and whole arrays above 256.
    driver.failRead = false;
    const ITag* big = tag("0?short-128");  // 256 bytes
    EXPECT_EQ(allocationsOf([&] { EXPECT_TRUE(driver.readArrayItem(big, 0, value)); }), 1);
    const ITag* bigArray = tag("0?short-129");
    EXPECT_EQ(allocationsOf([&] { EXPECT_TRUE(driver.readArrayItem(bigArray, 0, value)); }), 3);
}

TEST(AddressReplacer, TextFormsAndReplacement) {
    AddressReplacerID replacer;
    EXPECT_EQ(replacer.getPrefix(), "tempNode");
    const std::pair<const char*, int> texts[] = {{"0x10", 16},  {"0X1f", 31}, {"010", 8},
                                                 {"12abc", 12}, {"abc", 0},   {"  -7", -7}};
    for (const auto& [text, value] : texts) {
        EXPECT_EQ(replacer.fromString(text), value) << text;
    }
    EXPECT_EQ(replacer.toString(-5), "-5");
    EXPECT_EQ(replacer.toString(0), "0");
    replacer.set(3, 30);
    replacer.set(4, 40);
    replacer.set(3, 33);  // replaced in place
    EXPECT_EQ(std::make_pair(replacer.lookup(3), replacer.lookup(5)), std::make_pair(33, 5));
    EXPECT_EQ(replacer.getPairs(), (std::vector<std::pair<int, int>>{{3, 33}, {4, 40}}));
}

}  // namespace

// clang-format off
void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
// clang-format on
