#pragma once
// A Protocol_QARN wired to the recording host, whose serial factory hands out a scripted port.

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

#include <qarn/driver/Protocol_QARN.h>
#include <qarn/driver/Tag_QARN.h>
#include <qarn/plugin/HostServices.h>
#include "ErrorName.h"
#include "RecordingHost.h"

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
    // A fresh instance configured with the line settings and `nodes`.
    void configure(const std::string& nodes = GenericNode) {
        protocol = std::make_unique<Protocol_QARN>();
        ASSERT_TRUE(protocol->Config((LineConfig + nodes).c_str())) << lastError();
    }
    // configure(), Start(), and the port's script and records and the delays cleared.
    void start(const std::string& nodes = GenericNode) {
        configure(nodes);
        ASSERT_TRUE(protocol->Start()) << lastError();
        port.clearCalls();
        port.clearScript();
        host.multiTask().sleeps.clear();
    }
    // Queues answers separated by '|': hexadecimal bytes that get their CRC ("!" first breaks it,
    // "[" first wraps the frame for the ISMG models), "-" silence, "=" the acknowledgement of the
    // matching frame of `sent` (its first six bytes).
    void script(const std::string& answers, const std::string& sent = "") {
        std::istringstream in(answers), frames(sent);
        for (std::string a, frame; std::getline(in, a, '|');) {
            std::getline(frames, frame, '|');
            if (a == "-") {
                port.silence();
                continue;
            }
            const char mark = a[0] == '!' || a[0] == '[' ? a[0] : ' ';
            Bytes bytes = withCrc(hexBytes(a == "=" ? frame.substr(0, 17) : a.substr(mark != ' ')));
            bytes.back() ^= mark == '!' ? 1 : 0;
            port.answer(mark == '[' ? ismgWrapped(bytes) : bytes);
        }
    }
    const Tag_QARN* tag(const std::string& address) {
        ITag* created = protocol->CreateTag(address.c_str());
        EXPECT_NE(created, nullptr) << address << ": " << lastError();
        return static_cast<const Tag_QARN*>(created);
    }
    std::string lastError() const {
        return qarntest::lastError(protocol->GetLastError(), protocol->GetLastErrorString());
    }
    int requestCount() const { return port.count(ScriptedSerialPort::Op::Send); }
    // The frames sent, without their CRC (and ISMG wrapper, when it holds a correct frame),
    // joined by '|'.
    std::string sent() const {
        std::string frames;
        for (const Bytes& frame : port.requests()) {
            Bytes bare(frame.begin(), frame.end() - 2);
            if (frame.size() > 3 &&
                ismgWrapped(withCrc(Bytes(frame.begin() + 1, frame.end() - 3))) == frame) {
                bare = Bytes(frame.begin() + 1, frame.end() - 3);
            }
            frames += (frames.empty() ? "" : "|") + toHex(bare);
        }
        return frames;
    }

    RecordingHost host;
    ScriptedSerialPort port;
    std::unique_ptr<Protocol_QARN> protocol;  // declared last: goes first, while the host lives
};

}  // namespace qarntest
