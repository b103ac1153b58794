// The contracts later suites lean on: the store's copy rules and key order, the extended store
// switch, the failure switches and the extension hooks of the serial doubles, and the host's
// refusal by name.

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <stdexcept>
#include <string>

#include "MemoryStore.h"
#include "RecordingHost.h"
#include "RecordingSerialFactory.h"
#include "RecordingSerialPort.h"

namespace qarntest {
namespace {

struct CopyCase {
    const char* what;
    const char* key;
    int size;
    int expected;
    const char* expectedBuffer;  // "#" stands for "left untouched"
};

void PrintTo(const CopyCase& c, std::ostream* out) {
    *out << c.what;
}

class StoreCopyTest : public ::testing::TestWithParam<CopyCase> {};

TEST_P(StoreCopyTest, CopyValueCopiesOnlyWhatFitsWithItsNul) {
    const CopyCase& c = GetParam();
    MemoryStore store;
    store.put("S", "three", "abc");
    store.put("S", "empty", "");
    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    buffer[sizeof buffer - 1] = '\0';

    EXPECT_EQ(store.CopyValue("S", c.key, buffer, c.size), c.expected) << c.what;
    if (std::strcmp(c.expectedBuffer, "#") == 0) {
        EXPECT_EQ(buffer[0], '#') << c.what;
    } else {
        EXPECT_STREQ(buffer, c.expectedBuffer) << c.what;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, StoreCopyTest,
                         ::testing::Values(CopyCase{"roomy buffer", "three", 8, 1, "abc"},
                                           CopyCase{"exact fit with the NUL", "three", 4, 1, "abc"},
                                           CopyCase{"one byte short", "three", 3, 0, "#"},
                                           CopyCase{"empty value", "empty", 1, 1, ""},
                                           CopyCase{"zero size", "three", 0, 0, "#"},
                                           CopyCase{"absent key", "four", 8, 0, "#"},
                                           CopyCase{"key differs in case", "Three", 8, 0, "#"}));

TEST(MemoryStoreTest, KeysKeepInsertionOrderThroughReplaceAndRemove) {
    MemoryStore store;
    store.SetValue("S", "a", "1");
    store.SetValue("S", "b", "2");
    store.SetValue("S", "c", "3");
    store.SetValue("S", "a", "9");  // replaced in place
    EXPECT_EQ(store.RemoveValue("S", "b"), 1);
    EXPECT_EQ(store.RemoveValue("S", "b"), 0);
    store.SetValue("S", "b", "4");  // a new key goes last
    store.SetValue("Other", "z", "0");

    EXPECT_EQ(store.keys("S"), (std::vector<std::string>{"a", "c", "b"}));
    ASSERT_EQ(store.GetValueCount("S"), 3);
    EXPECT_STREQ(store.GetValueName("S", 2), "b");
    EXPECT_EQ(store.GetValueName("S", 3), nullptr);
    EXPECT_EQ(store.GetValueName("S", -1), nullptr);
    EXPECT_STREQ(store.GetValue("S", "a"), "9");
    EXPECT_EQ(store.GetValue("Missing", "a"), nullptr);
    EXPECT_EQ(store.GetValueCount("Missing"), 0);

    char name[8] = {};
    EXPECT_EQ(store.CopyValueName("S", 1, name, sizeof name), 1);
    EXPECT_STREQ(name, "c");
    EXPECT_EQ(store.CopyValueName("S", 3, name, sizeof name), 0);
}

TEST(MemoryStoreTest, HandedOutTextsStayValidWhileOtherKeysChange) {
    MemoryStore store;
    store.put("S", "kept", "value");
    const char* value = store.GetValue("S", "kept");
    const char* name = store.GetValueName("S", 0);
    for (int i = 0; i < 100; ++i) {
        store.put("S", "k" + std::to_string(i), std::to_string(i));
    }
    store.RemoveValue("S", "k5");
    EXPECT_STREQ(value, "value");
    EXPECT_STREQ(name, "kept");
}

TEST(MemoryStoreTest, ExtendedStoreCanBeSwitchedOff) {
    MemoryStore store;
    IPermanentStorage* basic = &store;
    EXPECT_EQ(basic->ConvertTo("IPermanentStorage2"), static_cast<IPermanentStorage2*>(&store));
    EXPECT_EQ(basic->ConvertTo("IPermanentStorage"), basic);
    store.setExtended(false);
    EXPECT_EQ(basic->ConvertTo("IPermanentStorage2"), nullptr);
    EXPECT_EQ(basic->ConvertTo("IPermanentStorage"), basic);
    EXPECT_EQ(basic->ConvertTo("ipermanentstorage2"), nullptr);
}

TEST(MemoryStoreTest, RecordsHostCallsButNotTestSideSeeding) {
    MemoryStore store;
    store.put("S", "k", "v");
    char buffer[256];
    store.SetValue("S", "tempNode5", "7");
    store.CopyValue("S", "k", buffer, 256);
    store.GetValueName("S", 1);

    const auto& calls = store.calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].op, MemoryStore::Op::SetValue);
    EXPECT_EQ(calls[0].key, "tempNode5");
    EXPECT_EQ(calls[0].value, "7");
    EXPECT_EQ(calls[1].op, MemoryStore::Op::CopyValue);
    EXPECT_EQ(calls[1].bufferSize, 256);
    EXPECT_EQ(calls[2].op, MemoryStore::Op::GetValueName);
    EXPECT_EQ(calls[2].index, 1);
}

// A scripted port only decides what comes back; the base still records.
class OneAnswerPort : public RecordingSerialPort {
  protected:
    int onReceive(uint8_t* buffer, int size, int* received) override {
        if (size < 2) {
            return 0;
        }
        buffer[0] = 0x01;
        buffer[1] = 0x83;
        *received = 2;
        return 1;
    }
};

TEST(SerialDoublesTest, FactoryHandsOutInstalledPortAndRecordsOpenAndClose) {
    RecordingSerialFactory factory;
    OneAnswerPort scripted;
    factory.usePort(&scripted);

    ISerialPort* port = factory.OpenSerial("com2");
    ASSERT_EQ(port, &scripted);
    EXPECT_TRUE(factory.portOpen());
    uint8_t answer[256] = {};
    int received = 0;
    EXPECT_EQ(port->Receive(answer, 256, 2000, 10, &received, 0), 1);
    EXPECT_EQ(received, 2);
    EXPECT_EQ(answer[1], 0x83);
    factory.CloseSerial(port);
    EXPECT_FALSE(factory.portOpen());

    ASSERT_EQ(scripted.calls().size(), 1u);
    const RecordingSerialPort::Call& call = scripted.calls()[0];
    EXPECT_EQ(call.op, RecordingSerialPort::Op::Receive);
    EXPECT_EQ(call.size, 256);
    EXPECT_EQ(call.timeoutMs, 2000);
    EXPECT_EQ(call.interCharMs, 10);
    EXPECT_EQ(call.receivedPreset, 0);
    ASSERT_EQ(factory.calls().size(), 2u);
    EXPECT_EQ(factory.calls()[0].name, "com2");
    EXPECT_EQ(factory.calls()[1].op, RecordingSerialFactory::Op::Close);
    EXPECT_EQ(factory.calls()[1].port, &scripted);
    EXPECT_LT(factory.calls()[0].stamp, call.stamp);
    EXPECT_LT(call.stamp, factory.calls()[1].stamp);
}

TEST(SerialDoublesTest, FailureSwitchesRefuseOpenAndSetup) {
    RecordingSerialFactory factory;
    factory.setOpenFails(true);
    EXPECT_EQ(factory.OpenSerial("com1"), nullptr);
    EXPECT_FALSE(factory.portOpen());
    factory.setOpenFails(false);
    ISerialPort* port = factory.OpenSerial("com1");
    ASSERT_NE(port, nullptr);

    EXPECT_NE(port->Setup(9600, 1, 8, 1, 1), 0);
    factory.port().setSetupFails(true);
    EXPECT_EQ(port->Setup(19200, 2, 7, 2, 0), 0);
    ASSERT_EQ(factory.port().count(RecordingSerialPort::Op::Setup), 2);
    const int* args = factory.port().calls()[1].setup;
    EXPECT_EQ((std::vector<int>{args[0], args[1], args[2], args[3], args[4]}),
              (std::vector<int>{19200, 2, 7, 2, 0}));
}

TEST(SerialDoublesTest, QuietPortSendsEverythingAndAnswersNothing) {
    RecordingSerialPort port;
    const uint8_t frame[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD};
    uint8_t buffer[256];
    int received = 0;
    EXPECT_EQ(port.Drain(buffer, 0, 0), 0);
    EXPECT_EQ(port.Send(frame, sizeof frame, 0), 8);
    EXPECT_EQ(port.Receive(buffer, 256, 100, 10, &received, 0), 0);
    EXPECT_EQ(received, 0);
    ASSERT_EQ(port.sentFrames().size(), 1u);
    EXPECT_EQ(port.sentFrames()[0], std::vector<uint8_t>(frame, frame + sizeof frame));
    EXPECT_EQ(port.count(RecordingSerialPort::Op::Drain), 1);
}

TEST(RecordingHostTest, RefusesWithheldServicesAndNamesWhatIsGivenBack) {
    RecordingHost host;
    host.withhold("IDiag");
    EXPECT_EQ(host.CreateInterface("IDiag"), nullptr);
    EXPECT_EQ(host.CreateInterface("idiag"), nullptr);
    EXPECT_EQ(host.CreateInterface("IPermanentStorage2"), nullptr);
    IInterface* store = host.CreateInterface("IPermanentStorage");
    ASSERT_NE(store, nullptr);
    EXPECT_EQ(store->ConvertTo("IPermanentStorage"), store);
    host.deliver("IDiag");
    EXPECT_EQ(host.CreateInterface("IDiag"), host.service("IDiag"));
    host.ReleaseInterface(store);
    HostService<IDiag> foreign("IDiag", "Foreign", 1);
    host.ReleaseInterface(&foreign);

    EXPECT_EQ(host.names(RecordingHost::Op::Create),
              (std::vector<std::string>{"IDiag", "idiag", "IPermanentStorage2", "IPermanentStorage",
                                        "IDiag"}));
    EXPECT_EQ(host.names(RecordingHost::Op::Release),
              (std::vector<std::string>{"IPermanentStorage", ""}));
    EXPECT_THROW(host.withhold("IPermanentStorage2"), std::invalid_argument);
}

}  // namespace
}  // namespace qarntest
