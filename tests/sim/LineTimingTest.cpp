// Line pacing and the delay fault, measured on a pty: lower bounds that a real line at the
// given settings imposes, with generous upper bounds.

#include <gtest/gtest.h>

#include <chrono>

#include "SimTestSupport.h"

TEST(LineTiming, PacedAndDelayedAnswersTakeTheirTime) {
    const struct {
        sim::LineSettings line;
        uint32_t delayMs;
        double minMs;  // paced: request 8, silence 3.5, answer 24 more characters
    } cases[] = {
        {{9600, sim::Parity::None, 1, true}, 0, 35.5 * 1.042},
        {{115200, sim::Parity::None, 1, false}, 150, 150},
    };
    for (const auto& c : cases) {
        sim::SlaveEngine engine(1);
        engine.addDevice(1, sim::loadProfile("generic"));
        sim::FaultConfig faults;
        faults.rule(sim::Fault::Delay).every = c.delayMs != 0 ? 1 : 0;
        faults.delayMs = c.delayMs;
        engine.setFaults(faults);
        simtest::PtyServer server(engine, c.line);
        server.start();
        simtest::PtyClient client(server.path);
        const auto start = std::chrono::steady_clock::now();
        client.send(frame("01 03 00 00 00 0A"));
        EXPECT_EQ(client.receive(25, 5000).size(), 25u);
        const std::chrono::duration<double, std::milli> ms =
            std::chrono::steady_clock::now() - start;
        server.finish();
        EXPECT_GE(ms.count(), c.minMs * 0.98) << c.line.baud;
        EXPECT_LE(ms.count(), c.minMs + 2000) << c.line.baud;
    }
}
