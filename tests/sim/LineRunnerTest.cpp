// The runner on a pty, served from a thread: frames in and out through the kernel's tty layer.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "SimTestSupport.h"

namespace {

TEST(LineSettings, CharacterAndSilenceTimes) {
    const struct {
        sim::LineSettings line;
        uint64_t characterUs;  // 8 data bits, rounded up
        uint64_t silenceUs;    // 3.5 characters (the 1750 us floor: rtu's tests)
    } cases[] = {
        {{9600, sim::Parity::Even, 1, true}, 1146, 4011},
        {{1200, sim::Parity::Odd, 2, true}, 10000, 35000},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.line.characterUs(), c.characterUs) << c.line.baud;
        EXPECT_EQ(c.line.silenceUs(), c.silenceUs) << c.line.baud;
    }
    // Exactly the standard rates, on a pty as on a serial device.
    sim::SlaveEngine engine;
    for (uint32_t baud : {0u, 1000u, 460800u, 921600u, 4294967295u}) {
        sim::LineRunner runner(engine, sim::LineSettings{baud, sim::Parity::None, 1, true});
        EXPECT_THROW(runner.openPty(), std::invalid_argument) << baud;
        EXPECT_THROW(runner.openSerial("/dev/null"), std::invalid_argument) << baud;
    }
}

TEST(LineRunner, AnswersThroughThePtyUntilStopped) {
    sim::SlaveEngine engine(3);
    engine.addDevice(1, sim::loadProfile("generic"));
    engine.addDevice(3, sim::loadProfile("ISMG1xx"));
    simtest::PtyServer server(engine, simtest::fast());
    std::vector<std::string> trace;  // read only after the runner's thread has ended
    server.runner.setTrace([&trace](bool received, const Bytes& b, uint64_t) {
        trace.push_back((received ? "rx " : "tx ") + toHex(b));
    });
    server.start();
    simtest::PtyClient client(server.path);
    Bytes badCrc = frame("01 03 00 05 00 01");
    badCrc[2] ^= 0x40;
    const std::pair<Bytes, Bytes> cases[] = {
        {frame("01 06 00 05 0D 0A"), frame("01 06 00 05 0D 0A")},
        {frame("01 03 00 05 00 01"), frame("01 03 02 0D 0A")},
        {frame("[03 03 00 00 00 01]"), frame("[03 03 02 00 64]")},
        {frame("01 41"), frame("01 C1 01")},  // unknown function: ends by silence
        {badCrc, {}},
        {frame("01 03 00 05 00 01"), frame("01 03 02 0D 0A")},
    };
    for (const auto& [request, answer] : cases) {
        client.send(request);
        EXPECT_EQ(client.receive(std::max<size_t>(answer.size(), 1), answer.empty() ? 200 : 2000),
                  answer);
    }
    server.finish();
    ASSERT_EQ(trace.size(), 11u);
    EXPECT_EQ(trace[8], "rx " + toHex(badCrc));

    // A stop may come before the run, which then returns at once.
    sim::LineRunner early(engine, sim::LineSettings{});
    early.openPty();
    early.stop();
    early.run();
    EXPECT_THROW(sim::LineRunner(engine, sim::LineSettings{}).run(), std::logic_error);
    EXPECT_THROW(early.openSerial("/dev/null"), std::system_error);
}

}  // namespace
