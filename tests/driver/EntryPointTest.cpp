// The driver as the host meets it: through the exported entry point, the module and the protocol
// factory, against the recording host. Run under the sanitizer build, nothing may leak.

#include <gtest/gtest.h>

#include <qarn/host/IProtModule.h>
#include <qarn/host/IProtocol.h>
#include <qarn/host/IProtocolFactory.h>
#include <qarn/plugin/ProtFactory.h>
#include "RecordingHost.h"

using namespace qarntest;

namespace {

IProtocol* startedProtocol(IProtocolFactory* protocols) {
    IProtocol* protocol = protocols->CreateProtocol("QARN");
    EXPECT_TRUE(
        protocol->Config("CfgVer=1 uart=com3 baudrate=19200 parity=even bits=8 stopbits=1 "
                         "mode=RS-485 defNodeId=1 Node4::defNodeId=4 Node4::model=EM24"));
    protocol->SetIdent("line3");
    EXPECT_TRUE(protocol->Start()) << protocol->GetLastErrorString();
    return protocol;
}

std::string command(IProtocol* protocol, const char* text) {
    char reply[256] = {};
    EXPECT_EQ(protocol->DoCommand(text, reply, sizeof(reply)), 1);
    return reply;
}

}  // namespace

TEST(EntryPoint, LifecycleAndRoundTripFromInitToClose) {
    RecordingHost host;
    ScriptedSerialPort port;
    host.serialFactory().usePort(&port);
    IInterfaceFactory* factory = GetInterfaceFactory();
    auto* module = static_cast<IProtModule*>(factory->CreateInterface("IProtModule"));
    auto* protocols = static_cast<IProtocolFactory*>(factory->CreateInterface("IProtocolFactory"));
    ASSERT_TRUE(module->Init(&host)) << module->GetLastError();
    IProtocol* protocol = startedProtocol(protocols);
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
    protocol->FreeTag(reg);
    protocols->DeleteProtocol(protocol);  // still holding the override tag
    // A fresh instance of the same line finds the override in the store when it starts.
    IProtocol* fresh = startedProtocol(protocols);
    EXPECT_EQ(command(fresh, "getid"), "id 4 -> 12\n");
    port.clearCalls();
    port.answer(withCrc(hexBytes("0C 03 02 00 08")));
    EXPECT_TRUE(fresh->Read(fresh->CreateTag("4?HREG?400010?short"), bytes) && value == 8);
    EXPECT_EQ(toHex(port.requests().at(0)).substr(0, 17), "0C 03 00 09 00 01");
    protocols->DeleteProtocol(fresh);  // closes the port it still has open
    EXPECT_EQ(host.serialFactory().openPorts, 0);
    module->Close();
    EXPECT_EQ(host.released.size(), host.created.size());  // every service given back
}
