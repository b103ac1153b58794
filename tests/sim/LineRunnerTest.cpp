// The runner on a pty, served from a thread: frames in and out through the kernel's tty layer.

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "PtyServer.h"
#include "SimTestSupport.h"

using simtest::frame;
using simtest::hex;
using simtest::ismg;

namespace {

TEST(LineSettings, CharacterAndSilenceTimes) {
    const struct {
        uint32_t baud;
        sim::Parity parity;
        uint32_t stopBits;
        double characterUs;
        uint64_t silenceUs;
    } cases[] = {
        {9600, sim::Parity::None, 1, 1041.67, 3646}, {9600, sim::Parity::Even, 1, 1145.83, 4011},
        {9600, sim::Parity::None, 2, 1145.83, 4011}, {1200, sim::Parity::Odd, 2, 10000.0, 35000},
        {19200, sim::Parity::None, 1, 520.83, 1823}, {38400, sim::Parity::None, 1, 260.42, 1750},
    };
    for (const auto& c : cases) {
        const sim::LineSettings s{c.baud, c.parity, c.stopBits, true};
        EXPECT_NEAR(s.characterUs(), c.characterUs, 0.01) << c.baud;
        EXPECT_EQ(s.silenceUs(), c.silenceUs) << c.baud;
    }
}

class LineRunnerTest : public ::testing::Test {
  protected:
    LineRunnerTest() : engine(3) {
        engine.addDevice(1, sim::loadProfile("generic"));
        engine.addDevice(3, sim::loadProfile("ISMG1xx"));
    }
    sim::SlaveEngine engine;
};

TEST_F(LineRunnerTest, AnswersPlainAndWrappedRequestsThroughThePty) {
    simtest::PtyServer server(engine, sim::LineSettings{115200, sim::Parity::None, 1, false});
    std::mutex m;
    std::vector<std::string> trace;
    server.runner().setTrace([&](bool received, const std::vector<uint8_t>& b, uint64_t) {
        std::lock_guard<std::mutex> lock(m);
        trace.push_back((received ? "rx " : "tx ") + hex(b));
    });
    server.start();
    simtest::PtyClient client(server.path());
    ASSERT_TRUE(client.ok()) << server.path();

    const struct {
        std::vector<uint8_t> request;
        std::vector<uint8_t> answer;
    } cases[] = {
        {frame("01 06 00 05 0D 0A"), frame("01 06 00 05 0D 0A")},
        {frame("01 03 00 05 00 01"), frame("01 03 02 0D 0A")},
        {ismg("03 03 00 00 00 01"), ismg("03 03 02 00 64")},
        {frame("01 41"), frame("01 C1 01")},  // unknown function: ends by silence
    };
    for (const auto& c : cases) {
        client.send(c.request);
        EXPECT_EQ(hex(client.receive(c.answer.size(), 2000)), hex(c.answer));
    }
    // A frame with a bad CRC is not answered; the next good one is.
    std::vector<uint8_t> bad = frame("01 03 00 05 00 01");
    bad[2] ^= 0x40;
    client.send(bad);
    EXPECT_TRUE(client.receive(1, 200).empty());
    client.send(frame("01 03 00 05 00 01"));
    EXPECT_EQ(hex(client.receive(7, 2000)), hex(frame("01 03 02 0D 0A")));

    server.finish();
    std::lock_guard<std::mutex> lock(m);
    ASSERT_EQ(trace.size(), 11u);
    EXPECT_EQ(trace[0], "rx " + hex(cases[0].request));
    EXPECT_EQ(trace[1], "tx " + hex(cases[0].answer));
    EXPECT_EQ(trace[8], "rx " + hex(bad));
}

TEST_F(LineRunnerTest, StopsWhenAskedBeforeOrWhileRunning) {
    sim::LineRunner early(engine, sim::LineSettings{});
    early.openPty();
    early.stop();
    early.run();  // returns at once

    simtest::PtyServer server(engine, sim::LineSettings{});
    server.start();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    server.finish();
    EXPECT_THROW(sim::LineRunner(engine, sim::LineSettings{}).run(), std::logic_error);
}

TEST_F(LineRunnerTest, RefusesWhatIsNotASerialDevice) {
    sim::LineRunner runner(engine, sim::LineSettings{});
    EXPECT_THROW(runner.openSerial("/nonexistent/tty"), std::system_error);
    EXPECT_THROW(runner.openSerial("/dev/null"), std::system_error);
    sim::LineRunner odd(engine, sim::LineSettings{12345, sim::Parity::None, 1, true});
    EXPECT_THROW(odd.openSerial("/dev/null"), std::invalid_argument);
}

}  // namespace
