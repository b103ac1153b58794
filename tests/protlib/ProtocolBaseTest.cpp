// The protocol base class through a scripted driver: defaults, tag list, reads, array items,
// datagrams, time stamps, tag ordering and tag address fields.

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <vector>

#include "TestDriver.h"

namespace {

using Bytes = std::vector<uint8_t>;

class ProtocolBaseTest : public ::testing::Test {
  protected:
    void SetUp() override { liveBefore = TestTag::live; }
    void TearDown() override {
        driver.DeleteTags();
        EXPECT_EQ(TestTag::live, liveBefore);
    }
    const ITag* tag(const char* address) {
        const ITag* t = driver.CreateTag(address);
        EXPECT_NE(t, nullptr) << address << ": " << driver.GetLastErrorString();
        return t;
    }
    void expectError(int code, const char* text) {
        EXPECT_EQ(driver.GetLastError(), code);
        EXPECT_STREQ(driver.GetLastErrorString(), text);
    }

    TestDriver driver;
    int liveBefore = 0;
};

}  // namespace

TEST_F(ProtocolBaseTest, FreshInstanceAndIdentity) {
    expectError(1, "");
    EXPECT_STREQ(driver.GetIdent(), "TEST");
    driver.SetIdent("");
    EXPECT_STREQ(driver.GetIdent(), "TEST");
    driver.SetIdent("line 2");
    EXPECT_STREQ(driver.GetIdent(), "line 2");
    EXPECT_STREQ(driver.GetNextInstanceName(), "TEST");
    // Success never clears an error.
    driver.SetError(-6, "timeout");
    EXPECT_TRUE(driver.Start());
    EXPECT_NE(tag("0?int"), nullptr);
    expectError(-6, "timeout");
}

TEST_F(ProtocolBaseTest, InterfaceNames) {
    for (const char* name : {"ProtocolBase", "IProtocol7", "IProtocol6", "IProtocol5", "IProtocol4",
                             "IProtocol3", "IProtocol2", "IProtocol"}) {
        EXPECT_EQ(driver.ConvertTo(name), static_cast<IProtocol*>(&driver)) << name;
    }
    for (const char* name : {"IProtocol8", "iprotocol", "IProtocol ", "ITag", "", "IInterface"}) {
        EXPECT_EQ(driver.ConvertTo(name), nullptr) << name;
    }
    EXPECT_EQ(driver.ConvertTo(nullptr), nullptr);
}

TEST_F(ProtocolBaseTest, UnsupportedOperationsReportTheirError) {
    const ITag* t = tag("0?int");
    struct Case {
        std::function<bool()> call;  // true when the default result came back
        int code;
        const char* text;
    };
    const Case cases[] = {
        {[&] { return !driver.WriteBlock(t, nullptr, 4); }, -3, "Optimized writing not supported"},
        {[&] { return !driver.readObject(t, nullptr); }, -1, "read object not supported"},
        {[&] { return !driver.writeObject(t, nullptr); }, -1, "write object not supported"},
        {[&] { return driver.createEventChannel(1) == nullptr; }, -1,
         "protocol does not support event channel"},
        {[&] {
             return driver.createEventChannel(static_cast<IEventProcessor*>(nullptr)) == nullptr;
         },
         -1, "protocol does not support event channel"},
        {[&] { return !driver.addEventSource(nullptr, "x"); }, -1,
         "protocol does not support event channel"},
        {[&] { return !driver.addAlarmEvents(nullptr, nullptr); }, -1,
         "protocol does not support event channel"},
        {[&] { return driver.createAlarm("x") == nullptr; }, -1,
         "protocol does not support alarms"},
        {[&] { return driver.createTrend("x") == nullptr; }, -1,
         "protocol does not support trends"},
    };
    for (const Case& c : cases) {
        driver.SetError(5, "before");
        EXPECT_TRUE(c.call());
        expectError(c.code, c.text);
    }
    EXPECT_EQ(driver.MaxUnusedGap(t), 0xFFFFFF);
    EXPECT_EQ(driver.GetXml(), nullptr);
    EXPECT_FALSE(driver.IsConverted());
    EXPECT_FALSE(driver.CanAddToDatagram(&t, 1, t));
}

TEST_F(ProtocolBaseTest, TagListOwnsItsTags) {
    const int base = TestTag::live;
    ITag* a = driver.CreateTag("0?int");
    ITag* b = driver.CreateTag("4?short");
    EXPECT_EQ(TestTag::live, base + 2);

    EXPECT_EQ(driver.CreateTag("no address"), nullptr);
    expectError(-1, "Tag URI error: no address - address needs offset?type");
    EXPECT_EQ(driver.CreateTag("0?Int(swap2)"), nullptr);
    expectError(-1, "Tag URI error: 0?Int(swap2) - Int(swap2): data type unknown");
    EXPECT_EQ(TestTag::live, base + 2);

    driver.FreeTag(a);
    EXPECT_EQ(TestTag::live, base + 1);
    driver.FreeTag(nullptr);
    EXPECT_EQ(TestTag::live, base + 1);
    // A tag the protocol never listed is destroyed all the same.
    driver.FreeTag(b->Clone());
    EXPECT_EQ(TestTag::live, base + 1);
    driver.CreateTag("8?int");
    driver.DeleteTags();
    EXPECT_EQ(TestTag::live, base);
    driver.DeleteTags();

    // Whatever the host did not free dies with the protocol.
    {
        TestDriver local;
        local.CreateTag("0?int");
        local.CreateTag("0?double-40");
        EXPECT_EQ(TestTag::live, base + 2);
    }
    EXPECT_EQ(TestTag::live, base);
}

TEST_F(ProtocolBaseTest, ReadConvertsTheRawImage) {
    driver.image[10] = 0x12;
    driver.image[11] = 0x34;
    uint8_t value[2] = {0, 0};
    EXPECT_TRUE(driver.Read(tag("10?unsignedShort(swap2)"), value));
    EXPECT_EQ(value[0], 0x34);
    EXPECT_EQ(value[1], 0x12);
    EXPECT_EQ(driver.lastLength, 2);

    // Bit tags read their packed length, here two bytes for six bits from bit 5.
    driver.image[20] = 0xE0;
    driver.image[21] = 0x01;
    uint8_t bits[6] = {};
    EXPECT_TRUE(driver.Read(tag("20.5?boolean-6"), bits));
    EXPECT_EQ(Bytes(bits, bits + 6), (Bytes{1, 1, 1, 1, 0, 0}));
    EXPECT_EQ(driver.lastLength, 2);

    // Above the local buffer.
    for (int i = 0; i < 100; ++i) {
        driver.image[100 + i] = static_cast<uint8_t>(i);
    }
    Bytes big(100);
    EXPECT_TRUE(driver.Read(tag("100?unsignedByte-100"), big.data()));
    EXPECT_EQ(big[99], 99);
    EXPECT_EQ(driver.lastLength, 100);
}

TEST_F(ProtocolBaseTest, ReadThroughBitBlocksCountsBits) {
    driver.bitBlocks = true;
    driver.image[0] = 0x04;
    uint8_t value[16] = {};
    EXPECT_TRUE(driver.Read(tag("0.2?boolean"), value));
    EXPECT_EQ(value[0], 1);
    EXPECT_EQ(driver.lastLength, 1);
    EXPECT_TRUE(driver.Read(tag("0.2?boolean-13"), value));
    EXPECT_EQ(driver.lastLength, 13);
    EXPECT_TRUE(driver.Read(tag("0?int"), value));
    EXPECT_EQ(driver.lastLength, 32);
    EXPECT_EQ(driver.readCalls, 3);
}

TEST_F(ProtocolBaseTest, ReadFailures) {
    const ITag* good = tag("0?int");
    uint8_t value[4] = {9, 9, 9, 9};
    driver.failRead = true;
    EXPECT_FALSE(driver.Read(good, value));
    expectError(-6, "no answer");
    EXPECT_EQ(value[0], 9);

    driver.failRead = false;
    EXPECT_FALSE(driver.Read(tag("0?int(nosuch)"), value));
    expectError(-9, "read conversion error");
    EXPECT_EQ(value[0], 9);
}

TEST_F(ProtocolBaseTest, ArrayItems) {
    const ITag* array = tag("0?short-4");
    const int16_t values[4] = {10, -20, 30, -40};
    std::memcpy(driver.image.data(), values, sizeof values);
    int16_t item = 0;

    EXPECT_FALSE(driver.readArrayItem(tag("0?int"), 0, reinterpret_cast<uint8_t*>(&item)));
    expectError(-1, "accessing an array item where the tag is not array");
    for (int bad : {-1, 4}) {
        driver.SetError(1, "");
        EXPECT_FALSE(driver.readArrayItem(array, bad, reinterpret_cast<uint8_t*>(&item)));
        expectError(-1, "accessing array item out of range");
        EXPECT_FALSE(driver.writeArrayItem(array, bad, reinterpret_cast<uint8_t*>(&item)));
        expectError(-1, "accessing array item out of range");
    }
    EXPECT_EQ(driver.readCalls, 0);

    EXPECT_TRUE(driver.readArrayItem(array, 3, reinterpret_cast<uint8_t*>(&item)));
    EXPECT_EQ(item, -40);
    item = 77;
    EXPECT_TRUE(driver.writeArrayItem(array, 1, reinterpret_cast<const uint8_t*>(&item)));
    int16_t after[4];
    std::memcpy(after, driver.image.data(), sizeof after);
    EXPECT_EQ(after[0], 10);
    EXPECT_EQ(after[1], 77);
    EXPECT_EQ(after[3], -40);

    driver.failRead = true;
    EXPECT_FALSE(driver.writeArrayItem(array, 0, reinterpret_cast<const uint8_t*>(&item)));
    expectError(-6, "no answer");
    EXPECT_EQ(driver.writeCalls, 1);

    // Strings and bit arrays are arrays of bytes and of bits.
    driver.failRead = false;
    std::memcpy(driver.image.data() + 300, "hello", 5);
    uint8_t ch = 0;
    EXPECT_TRUE(driver.readArrayItem(tag("300?string-5"), 4, &ch));
    EXPECT_EQ(ch, 'o');
    driver.image[400] = 0x02;
    EXPECT_TRUE(driver.readArrayItem(tag("400?boolean-8"), 1, &ch));
    EXPECT_EQ(ch, 1);
    Bytes wide(600);
    EXPECT_TRUE(driver.readArrayItem(tag("0?unsignedShort-300"), 299, wide.data()));
}

TEST_F(ProtocolBaseTest, DatagramLimits) {
    const ITag* a = tag("0?int");
    const ITag* b = tag("4?short");
    const ITag* c = tag("8?double");
    const ITag* list[] = {a, b};
    EXPECT_FALSE(driver.CanAddToDatagram(list, 2, c));  // base answers admit nothing

    driver.scriptedDatagrams = true;
    struct Case {
        int items, length;
        bool coexist;
        int count;
        bool expected;
    };
    const Case cases[] = {
        {3, 14, true, 2, true},    {3, 13, true, 2, false}, {2, 100, true, 2, false},
        {3, 100, false, 2, false}, {1, 8, false, 0, true},  {1, 7, true, 0, false},
    };
    for (const Case& k : cases) {
        driver.datagramItems = k.items;
        driver.datagramLength = k.length;
        driver.coexist = k.coexist;
        EXPECT_EQ(driver.CanAddToDatagram(list, k.count, c), k.expected)
            << k.items << " " << k.length << " " << k.coexist << " " << k.count;
    }

    idal_error_t status[3] = {IDAL_NONE, IDAL_NONE, IDAL_NONE};
    uint64_t stamps[3] = {5, 5, 5};
    EXPECT_FALSE(driver.readDatagramWithTimestamp(list, 2, nullptr, status, stamps));
    EXPECT_EQ(status[0], IDAL_NONE);
    EXPECT_EQ(stamps[0], 5u);
    driver.datagramOk = true;
    const uint64_t before = currentTimeStamp();
    EXPECT_TRUE(driver.readDatagramWithTimestamp(list, 2, nullptr, status, stamps));
    EXPECT_EQ(status[0], IDAL_READ);
    EXPECT_EQ(status[1], IDAL_READ);
    EXPECT_EQ(status[2], IDAL_NONE);
    EXPECT_GE(stamps[0], before);
    EXPECT_EQ(stamps[1], stamps[0]);
    EXPECT_EQ(stamps[2], 5u);
}

TEST_F(ProtocolBaseTest, TimeStampedReads) {
    const uint64_t wall =
        static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::system_clock::now().time_since_epoch())
                                  .count());
    const uint64_t now = currentTimeStamp();
    EXPECT_GE(now + 1000, wall);
    EXPECT_LE(now, wall + 1000);

    const ITag* t = tag("0?int");
    uint8_t value[4];
    uint64_t stamp = 0;
    EXPECT_TRUE(driver.readWithTimestamp(t, value, &stamp));
    EXPECT_GE(stamp, now);
    stamp = 0;
    EXPECT_TRUE(driver.readBlockWithTimestamp(t, value, 4, &stamp));
    EXPECT_GE(stamp, now);
    stamp = 0;
    EXPECT_TRUE(driver.readBitBlockWithTimestamp(t, value, 32, &stamp));
    EXPECT_GE(stamp, now);
    stamp = 0;
    driver.failRead = true;
    EXPECT_FALSE(driver.readWithTimestamp(t, value, &stamp));
    EXPECT_FALSE(driver.readBlockWithTimestamp(t, value, 4, &stamp));
    EXPECT_FALSE(driver.readBitBlockWithTimestamp(t, value, 32, &stamp));
    EXPECT_EQ(stamp, 0u);
}

TEST_F(ProtocolBaseTest, TagOrder) {
    const ITag* low = tag("0?int");
    const ITag* next = tag("4?int");
    const ITag* negative = tag("-1?int");  // an offset of -1 compares as the largest
    EXPECT_TRUE(driver.IsBefore(low, next));
    EXPECT_FALSE(driver.IsBefore(next, low));
    EXPECT_FALSE(driver.IsBefore(low, low));
    EXPECT_FALSE(driver.IsBefore(negative, low));
    EXPECT_TRUE(driver.IsBefore(low, negative));

    // IsAdjacent(first, second): second ends where first begins.
    EXPECT_TRUE(driver.IsAdjacent(next, low));
    EXPECT_FALSE(driver.IsAdjacent(low, next));
    EXPECT_TRUE(driver.IsAdjacent(tag("1?short"), tag("0.3?boolean-5")));
    EXPECT_FALSE(driver.IsAdjacent(tag("1?short"), tag("0.3?boolean-4")));
    EXPECT_TRUE(driver.IsAdjacent(tag("1.2?boolean"), tag("1.1?boolean")));
}

TEST_F(ProtocolBaseTest, TagAddressFields) {
    EXPECT_EQ(driver.getTagUriFieldCount(), 0);
    EXPECT_EQ(driver.getTagUriFieldName(-1), nullptr);
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

    // Only the address string matters here, not whether it makes a usable tag.
    const TestTag t("a?bb?c");
    const char* address = t.GetVarName();
    int length = -1;
    EXPECT_EQ(driver.getTagUriField(&t, 0, &length), address);
    EXPECT_EQ(length, 1);
    EXPECT_EQ(driver.getTagUriField(&t, 1, &length), address + 2);
    EXPECT_EQ(length, 2);
    EXPECT_EQ(driver.getTagUriField(&t, 2, &length), address + 5);
    EXPECT_EQ(length, 1);
    length = -1;
    EXPECT_EQ(driver.getTagUriField(&t, 3, &length), nullptr);
    EXPECT_EQ(driver.getTagUriField(&t, -1, &length), nullptr);
    EXPECT_EQ(length, -1);
    const TestTag trailing("0?int?");
    EXPECT_EQ(driver.getTagUriField(&trailing, 2, &length), trailing.GetVarName() + 6);
    EXPECT_EQ(length, 0);
}
