// The line-setting search through the real driver, on a port double that answers only at the
// settings its device is set to: parity too, which a pty cannot show.

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include <qarn/commission/NodeProber.h>
#include <qarn/commission/SettingsSearch.h>
#include "ProbeRig.h"

namespace {

using qarn::LineSetting;
using qarntest::Bytes;
using rtu::Parity;

// A device at one baud rate, parity and stop bits: a request sent at other settings is never
// answered; at the right ones node 9 answers every read of one register.
class DevicePort : public qarntest::ScriptedSerialPort {
  public:
    explicit DevicePort(std::array<int, 3> own) : own_(own) {}
    int Setup(int baud, int parity, int dataBits, int stopBits, int mode) override {
        setups.push_back(LineSetting{baud, static_cast<Parity>(parity), stopBits});
        dataBitsSeen.push_back(dataBits);
        matched_ = std::array<int, 3>{baud, parity, stopBits} == own_;
        return ScriptedSerialPort::Setup(baud, parity, dataBits, stopBits, mode);
    }
    int Send(const uint8_t* frame, int length, int flags) override {
        clearScript();
        if (matched_ && length == 8 && frame[0] == 9) {
            answer(qarntest::withCrc(qarntest::hexBytes("09 03 02 12 34")));
        } else if (garbleElsewhere && length == 8 && frame[0] == 9) {
            answer(Bytes{0x09, 0x03, 0x02, 0x12, 0x34, 0x00, 0x00});  // bad CRC
        }
        return ScriptedSerialPort::Send(frame, length, flags);
    }

    std::vector<LineSetting> setups;
    std::vector<int> dataBitsSeen;
    bool garbleElsewhere = false;

  private:
    std::array<int, 3> own_;
    bool matched_ = false;
};

struct Rig {
    explicit Rig(std::array<int, 3> own) : port(own) {
        EXPECT_TRUE(protocol.Config(commissiontest::Line));
    }
    qarntest::RecordingHost host;
    DevicePort port;
    // Before the protocol, which takes its host services when it is made.
    const bool installed = commissiontest::useHost(host, port);
    Protocol_QARN protocol;
};

bool same(const LineSetting& a, const LineSetting& b) {
    return a.baud == b.baud && a.parity == b.parity && a.stopBits == b.stopBits;
}

TEST(SettingsSearch, TriesTheOrderUntilTheDeviceAnswersParityIncluded) {
    const std::vector<LineSetting> order = qarn::searchOrder();
    ASSERT_EQ(order.size(), 48U);
    EXPECT_EQ(qarn::settingName(order[0]), "9600 8N1");
    EXPECT_EQ(qarn::settingName(order[1]), "9600 8E1");
    for (size_t i = 0; i < order.size(); ++i) {
        for (size_t j = 0; j < i; ++j) {
            EXPECT_FALSE(same(order[i], order[j])) << qarn::settingName(order[i]) << " twice";
        }
    }

    for (const std::array<int, 3> device :
         {std::array<int, 3>{19200, 2, 1}, {9600, 0, 1}, {1200, 2, 2}, {57600, 0, 2}}) {
        Rig rig(device);
        rig.port.garbleElsewhere = true;  // a bad CRC is no answer
        qarn::NodeProber prober(rig.protocol, "HREG?400001?unsignedShort");
        size_t hooked = 0;
        qarn::SearchHooks hooks;
        hooks.beforeTry = [&](const LineSetting& s, const qarn::ProbeTiming& t, size_t index) {
            EXPECT_TRUE(same(s, order[index]));
            EXPECT_EQ(t.timeoutMs, qarn::probeTiming(s.baud, s.parity, s.stopBits).timeoutMs);
            ++hooked;
        };
        qarn::SettingsSearch search(rig.protocol, prober, commissiontest::Line, hooks);
        const qarn::SearchResult r = search.run(9);
        const LineSetting want{device[0], static_cast<Parity>(device[1]), device[2]};
        SCOPED_TRACE(qarn::settingName(want));
        ASSERT_TRUE(r.found);
        EXPECT_TRUE(same(r.setting, want)) << qarn::settingName(r.setting);
        EXPECT_EQ(qarn::resultText(r.probe), "answer");
        // Each setting tried once, in order, at 8 data bits, up to the device's own.
        ASSERT_EQ(rig.port.setups.size(), r.tried);
        EXPECT_EQ(hooked, r.tried);
        for (size_t i = 0; i < r.tried; ++i) {
            EXPECT_TRUE(same(rig.port.setups[i], order[i])) << i;
            EXPECT_EQ(rig.port.dataBitsSeen[i], 8);
        }
        EXPECT_TRUE(same(rig.port.setups.back(), want));
        EXPECT_EQ(r.config,
                  "CfgVer=1 uart=com1 baudrate=" + std::to_string(want.baud) +
                      " parity=" + rtu::parityName(device[1]) +
                      " bits=8 stopbits=" + std::to_string(want.stopBits) +
                      " mode=RS-485 defNodeId=9 model=GenericModbus repeat=0 timeout=100");
    }
}

TEST(SettingsSearch, NoAnswerAnywhereOrAStopRequestEndsWithoutAResult) {
    Rig rig({4800, 3, 1});  // mark parity: never tried
    qarn::NodeProber prober(rig.protocol, "HREG?400001?unsignedShort");
    qarn::SettingsSearch search(rig.protocol, prober, commissiontest::Line);
    const qarn::SearchResult none = search.run(9);
    EXPECT_FALSE(none.found);
    EXPECT_FALSE(none.stopped);
    EXPECT_EQ(none.tried, 48U);

    Rig stopped({9600, 0, 1});
    qarn::NodeProber prober2(stopped.protocol, "HREG?400001?unsignedShort");
    qarn::SearchHooks hooks;
    hooks.stopRequested = [] { return true; };
    const qarn::SearchResult r =
        qarn::SettingsSearch(stopped.protocol, prober2, commissiontest::Line, hooks).run(9);
    EXPECT_TRUE(r.stopped);
    EXPECT_FALSE(r.found);
    EXPECT_TRUE(stopped.port.setups.empty());
}

TEST(SettingsSearch, APortThatCannotBeSetSkipsTheSettingAndSaysWhy) {
    Rig rig({19200, 0, 1});
    rig.port.setupFails = true;
    qarn::NodeProber prober(rig.protocol, "HREG?400001?unsignedShort");
    const qarn::SearchResult r = qarn::SettingsSearch(rig.protocol, prober, commissiontest::Line)
                                     .run(9, {{9600, Parity::None, 1}, {19200, Parity::None, 1}});
    EXPECT_FALSE(r.found);
    EXPECT_EQ(r.tried, 2U);
    EXPECT_EQ(r.portRefusals,
              "9600 8N1: Can't open serial port; 19200 8N1: Can't open serial port");
}

}  // namespace
