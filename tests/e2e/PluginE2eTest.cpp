// The built plug-in, loaded as the host loads it, against a libmodbus slave over a pty.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "FileStore.h"
#include "HostFactory.h"
#include "IProtocol.h"
#include "ITag.h"
#include "ModbusPtySlave.h"
#include "PluginLoader.h"
#include "TempDir.h"

using refhost::FileStore;
using refhost::HostFactory;
using refhost::PluginLoader;

namespace {

struct Outcome {
    bool ok;
    std::vector<uint8_t> value;
    int code;
    std::string error;
};

}  // namespace

class PluginE2e : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(slave.ok()) << slave.error();
        host.setStore(std::make_unique<FileStore>(dir.file("store.ini")));
        ASSERT_TRUE(loader.load(QARN_PLUGIN_PATH, host)) << loader.error();
    }

    // A started instance on the slave's line.
    IProtocol* start(const std::string& extra = "timeout=1000 repeat=1") {
        IProtocol* p = loader.createProtocol("QARN");
        EXPECT_NE(p, nullptr) << loader.error();
        if (p == nullptr) {
            return nullptr;
        }
        const std::string cfg = "CfgVer=1 uart=" + slave.devicePath() +
                                " baudrate=9600 parity=even bits=8 stopbits=1 mode=RS-485 "
                                "defNodeId=1 model=GenericModbus " +
                                extra;
        EXPECT_TRUE(p->Config(cfg.c_str())) << p->GetLastErrorString();
        EXPECT_TRUE(p->Start()) << p->GetLastErrorString() << " / "
                                << host.serialFactory().lastError();
        return p;
    }

    Outcome read(IProtocol* p, const char* address) {
        ITag* tag = p->CreateTag(address);
        if (tag == nullptr) {
            return {false, {}, p->GetLastError(), p->GetLastErrorString()};
        }
        std::vector<uint8_t> value(static_cast<size_t>(tag->GetVarLength()), 0);
        const bool ok = p->Read(tag, value.data());
        p->FreeTag(tag);
        return {ok, value, p->GetLastError(), p->GetLastErrorString()};
    }

    Outcome write(IProtocol* p, const char* address, std::vector<uint8_t> value) {
        ITag* tag = p->CreateTag(address);
        if (tag == nullptr) {
            return {false, {}, p->GetLastError(), p->GetLastErrorString()};
        }
        const bool ok = p->Write(tag, value.data());
        p->FreeTag(tag);
        return {ok, value, p->GetLastError(), p->GetLastErrorString()};
    }

    static std::vector<uint8_t> u16(uint16_t v) {
        std::vector<uint8_t> b(2);
        std::memcpy(b.data(), &v, 2);
        return b;
    }

    ModbusPtySlave slave{1};
    TempDir dir;
    HostFactory host;
    PluginLoader loader;
};

TEST_F(PluginE2e, ReadsRegistersAndBitsOfEveryTable) {
    slave.setHolding(0, 0x1234);
    slave.setHolding(10, 1);
    slave.setHolding(11, 0xFFFF);
    slave.setInput(5, 777);
    slave.setCoil(11, true);
    slave.setDiscrete(8, true);
    slave.setDiscrete(9, false);
    slave.setDiscrete(10, true);
    IProtocol* p = start();
    ASSERT_NE(p, nullptr);

    const struct {
        const char* address;
        std::vector<uint8_t> value;  // host value
    } cases[] = {
        {"1?HREG?400001?unsignedShort", u16(0x1234)},
        {"1?HREG?400011?short-2", {0x01, 0x00, 0xFF, 0xFF}},
        {"1?IREG?300006?unsignedShort", u16(777)},
        {"1?OUTP?12?boolean", {1}},
        {"1?OUTP?11?boolean", {0}},
        {"1?INP?100009?boolean-3", {1, 0, 1}},
    };
    for (const auto& c : cases) {
        const Outcome r = read(p, c.address);
        ASSERT_TRUE(r.ok) << c.address << ": " << r.code << " " << r.error;
        EXPECT_EQ(r.value, c.value) << c.address;
    }
}

TEST_F(PluginE2e, WritesWithFunctions5And6AreReadBack) {
    IProtocol* p = start();
    ASSERT_NE(p, nullptr);
    Outcome w = write(p, "1?HREG?400003?unsignedShort", u16(0xBEEF));
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_EQ(slave.holding(2), 0xBEEF);
    EXPECT_EQ(slave.log().back()[1], 6);
    EXPECT_EQ(read(p, "1?HREG?400003?unsignedShort").value, u16(0xBEEF));

    w = write(p, "1?OUTP?20?boolean", {1});
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_TRUE(slave.coil(19));
    EXPECT_EQ(slave.log().back()[1], 5);
    EXPECT_EQ(read(p, "1?OUTP?20?boolean").value, std::vector<uint8_t>{1});
    ASSERT_TRUE(write(p, "1?OUTP?20?boolean", {0}).ok);
    EXPECT_FALSE(slave.coil(19));
}

TEST_F(PluginE2e, WriteWithFunction16CarriesAllRegistersInOneRequest) {
    IProtocol* p = start("timeout=1000 repeat=1 presetFunction=16");
    ASSERT_NE(p, nullptr);
    const int before = slave.requests();
    const Outcome w = write(p, "1?HREG?400005?unsignedShort-3", {1, 0, 2, 0, 3, 0});
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_EQ(slave.requests(), before + 1);
    EXPECT_EQ(slave.log().back()[1], 16);
    EXPECT_EQ(slave.holding(4), 1);
    EXPECT_EQ(slave.holding(5), 2);
    EXPECT_EQ(slave.holding(6), 3);
    EXPECT_EQ(read(p, "1?HREG?400005?unsignedShort-3").value,
              (std::vector<uint8_t>{1, 0, 2, 0, 3, 0}));
}

TEST_F(PluginE2e, ExceptionAnswerIsReportedWithoutRepeat) {
    IProtocol* p = start();
    ASSERT_NE(p, nullptr);
    const int before = slave.requests();
    const Outcome r = read(p, "1?HREG?402001?unsignedShort");  // beyond the slave's table
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.code, -6);
    EXPECT_EQ(r.error, "Exception: Illegal data address");
    EXPECT_EQ(slave.requests(), before + 1);
}

TEST_F(PluginE2e, SilentSlaveIsAskedRepeatPlusOneTimes) {
    IProtocol* p = start("timeout=300 repeat=2");
    ASSERT_NE(p, nullptr);
    slave.setSilent(true);
    const int before = slave.requests();
    const Outcome r = read(p, "1?HREG?400001?unsignedShort");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.code, -6);
    EXPECT_EQ(r.error, "Communication error");
    EXPECT_EQ(slave.requests(), before + 3);
}

TEST_F(PluginE2e, NodeOverrideFromTheConsoleIsStoredAndRestored) {
    slave.setHolding(0, 4242);
    IProtocol* first = start();
    ASSERT_NE(first, nullptr);
    char reply[256] = {};
    ASSERT_EQ(first->DoCommand("setid 9 1", reply, sizeof reply), 1);
    EXPECT_STREQ(reply, "id 9 set to 1\n");
    loader.deleteProtocol(first);

    FileStore check(dir.file("store.ini"));
    ASSERT_TRUE(check.load());
    EXPECT_STREQ(check.GetValue("QARN", "tempNode9"), "1");

    // A new instance finds the override in the store: node 9 goes to the slave at 1.
    IProtocol* second = start();
    ASSERT_NE(second, nullptr);
    const Outcome r = read(second, "9?HREG?400001?unsignedShort");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.value, u16(4242));
    EXPECT_EQ(slave.log().back()[0], 1);
}
