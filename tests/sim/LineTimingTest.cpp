// Line pacing and the delay fault, measured on a pty: lower bounds that a real line at the
// given settings imposes, with generous upper bounds.

#include <gtest/gtest.h>

#include <chrono>

#include "PtyServer.h"
#include "SimTestSupport.h"

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds from sending a 10-register read of node 1 to the last byte of its answer.
double answerTimeMs(const sim::LineSettings& line, const sim::FaultConfig& faults) {
    sim::SlaveEngine engine(1);
    engine.addDevice(1, sim::loadProfile("generic"));
    engine.setFaults(faults);
    simtest::PtyServer server(engine, line);
    server.start();
    simtest::PtyClient client(server.path());
    EXPECT_TRUE(client.ok());
    const auto start = Clock::now();
    client.send(simtest::frame("01 03 00 00 00 0A"));
    const std::vector<uint8_t> answer = client.receive(25, 5000);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    EXPECT_EQ(answer.size(), 25u);
    server.finish();
    return ms;
}

TEST(LineTiming, PacedAnswersTakeTheirCharacterTimes) {
    const struct {
        sim::LineSettings line;
        double minMs;  // request 8, silence 3.5, answer 24 more characters
    } cases[] = {
        {{9600, sim::Parity::None, 1, true}, 35.5 * 1.0417},
        {{9600, sim::Parity::Even, 2, true}, 35.5 * 1.25},
        {{4800, sim::Parity::None, 1, true}, 35.5 * 2.0833},
    };
    for (const auto& c : cases) {
        const double ms = answerTimeMs(c.line, sim::FaultConfig{});
        EXPECT_GE(ms, c.minMs * 0.98) << c.line.baud;
        EXPECT_LE(ms, c.minMs + 2000) << c.line.baud;
    }
}

TEST(LineTiming, DelayFaultHoldsTheAnswerBack) {
    sim::FaultConfig faults;
    faults.rule(sim::Fault::Delay).every = 1;
    faults.delayMs = 150;
    const double ms = answerTimeMs(sim::LineSettings{115200, sim::Parity::None, 1, false}, faults);
    EXPECT_GE(ms, 150);
    EXPECT_LE(ms, 2150);
}

}  // namespace
