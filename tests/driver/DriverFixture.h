#pragma once
// A Protocol_QARN wired to the recording host: the module-wide service pointers point at a
// RecordingHost whose serial factory hands out a scripted port.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "HostServices.h"
#include "Protocol_QARN.h"
#include "RecordingHost.h"
#include "ScriptedSerialPort.h"
#include "Tag_QARN.h"

namespace qarntest {

inline const std::string LineConfig =
    "CfgVer=1 uart=com1 baudrate=9600 parity=none bits=8 stopbits=1 mode=RS-485 ";
inline const std::string GenericNode = "defNodeId=1 model=GenericModbus";

class DriverTest : public ::testing::Test {
  protected:
    void SetUp() override {
        piMultiTask = &host.multiTask();
        piSerialFactory = &host.serialFactory();
        piPermanentStorage = &host.store();
        host.serialFactory().usePort(&port);
    }
    void TearDown() override {
        protocol.reset();
        piMultiTask = nullptr;
        piSerialFactory = nullptr;
        piPermanentStorage = nullptr;
    }
    // A fresh instance configured with the line settings and `nodes`.
    void configure(const std::string& nodes = GenericNode) {
        protocol = std::make_unique<Protocol_QARN>();
        ASSERT_TRUE(protocol->Config((LineConfig + nodes).c_str())) << lastError();
    }
    // configure(), Start(), and the records of the port and of the delays cleared.
    void start(const std::string& nodes = GenericNode) {
        configure(nodes);
        ASSERT_TRUE(protocol->Start()) << lastError();
        port.clearCalls();
        port.clearScript();
        host.multiTask().clearCalls();
    }
    const Tag_QARN* tag(const std::string& address) {
        ITag* created = protocol->CreateTag(address.c_str());
        EXPECT_NE(created, nullptr) << address << ": " << lastError();
        return static_cast<const Tag_QARN*>(created);
    }
    std::string lastError() const {
        return std::to_string(protocol->GetLastError()) + " " + protocol->GetLastErrorString();
    }
    int requestCount() const { return port.count(ScriptedSerialPort::Op::Send); }
    // The frames sent, without their CRC, joined by '|'.
    std::string sent() const {
        std::string frames;
        for (const Bytes& frame : port.requests()) {
            frames += (frames.empty() ? "" : "|") + toHex(Bytes(frame.begin(), frame.end() - 2));
        }
        return frames;
    }

    RecordingHost host;
    ScriptedSerialPort port;
    std::unique_ptr<Protocol_QARN> protocol;
};

}  // namespace qarntest
