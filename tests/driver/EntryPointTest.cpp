// The driver as the host meets it: through the exported entry point, the module and the protocol
// factory, against the recording host. Run under the sanitizer build, nothing may leak.

#include <gtest/gtest.h>

#include <qarn/host/IProtModule.h>
#include <qarn/host/IProtocol.h>
#include <qarn/host/IProtocolFactory.h>
#include <qarn/plugin/ProtFactory.h>
#include "RecordingHost.h"

using namespace qarntest;

TEST(EntryPoint, LifecycleAndRoundTripFromInitToClose) {
    RecordingHost host;
    ScriptedSerialPort port;
    host.serialFactory().usePort(&port);
    IInterfaceFactory* factory = GetInterfaceFactory();
    auto* module = static_cast<IProtModule*>(factory->CreateInterface("IProtModule"));
    auto* protocols = static_cast<IProtocolFactory*>(factory->CreateInterface("IProtocolFactory"));
    ASSERT_TRUE(module->Init(&host)) << module->GetLastError();
    IProtocol* protocol = protocols->CreateProtocol("QARN");
    const char* const config =
        "CfgVer=1 uart=com3 baudrate=19200 parity=even bits=8 stopbits=1 mode=RS-485 "
        "defNodeId=1 Node4::defNodeId=4 Node4::model=EM24";
    ASSERT_TRUE(protocol->Config(config));
    protocol->SetIdent("line3");
    ASSERT_TRUE(protocol->Start()) << protocol->GetLastErrorString();
    // The host's queries: its newest interface by exact name, and the kind-3 record flag.
    EXPECT_TRUE(protocol->ConvertTo("IProtocol7") == protocol &&
                !protocol->ConvertTo("iprotocol7"));
    uint8_t record[8] = {3, 0, 0, 0, 9, 9, 9, 9};  // a 32-bit kind (little-endian), four flags
    EXPECT_TRUE(protocol->Extend(0, record) == 1 &&
                (Bytes(record + 4, record + 8) == Bytes{1, 0, 0, 0}));
    record[0] = 2;
    EXPECT_TRUE(protocol->Extend(0, record) == 1 && record[4] == 0);
    ITag* reg = protocol->CreateTag("4?HREG?400010?short");
    // Read node 4, then move it to 12 through its override tag: kept in the host's store.
    int16_t value = 0;
    auto* bytes = reinterpret_cast<uint8_t*>(&value);
    port.answer(withCrc(hexBytes("04 03 02 FF FE")));
    EXPECT_TRUE(protocol->Read(reg, bytes) && value == -2);
    ASSERT_TRUE(protocol->Write(protocol->CreateTag("4?NO?0?unsignedByte"), Bytes{12}.data()));
    EXPECT_STREQ(host.store().GetValue("line3", "tempNode4"), "12");
    EXPECT_TRUE(protocol->Stop() && host.serialFactory().openPorts == 0);
    // Restoring the override at the next start, and the node it sends to: the lifecycle and
    // transaction tests. Deleting a started protocol that still holds a tag closes its port.
    ASSERT_TRUE(protocol->Start() && host.serialFactory().openPorts == 1);
    protocol->FreeTag(reg);
    protocols->DeleteProtocol(protocol);
    EXPECT_EQ(host.serialFactory().openPorts, 0);
    module->Close();
    EXPECT_EQ(host.released.size(), host.created.size());  // every service given back
}
