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
        sim::FaultConfig faults;
        faults.rule(sim::Fault::Delay).every = c.delayMs != 0 ? 1 : 0;
        faults.delayMs = c.delayMs;
        simtest::Line line(c.line, faults, 1);
        simtest::PtyClient client(line.server.path);
        const auto start = std::chrono::steady_clock::now();
        client.send(frame("01 03 00 00 00 0A"));
        EXPECT_EQ(client.receive(25, 5000).size(), 25u);
        const std::chrono::duration<double, std::milli> ms =
            std::chrono::steady_clock::now() - start;
        line.server.finish();
        EXPECT_GE(ms.count(), c.minMs * 0.98) << c.line.baud;
        EXPECT_LE(ms.count(), c.minMs + 2000) << c.line.baud;
    }
}

TEST(LineTiming, BurstsDeliverAnAnswerInChunksAtTheBurstInterval) {
    // 100 registers: 205 bytes, 213 ms on the line at 9600 baud, some 14 bursts of 16 ms.
    const Bytes request = frame("01 03 00 00 00 64");
    Bytes answer = {0x01, 0x03, 200};
    answer.resize(203);
    answer = qarntest::withCrc(answer);
    for (const bool pace : {true, false}) {
        SCOPED_TRACE(pace ? "paced" : "unpaced");
        sim::LineSettings settings{9600, sim::Parity::None, 1, pace};
        settings.burstMs = 16;
        const double lineMs = 204 * static_cast<double>(settings.characterUs()) / 1000;
        simtest::Line line(settings, {}, 1);
        simtest::PtyClient client(line.server.path);
        const auto start = std::chrono::steady_clock::now();
        client.send(request);
        // A chunk ends with a gap of 4 ms: the tty layer may split one write.
        Bytes got;
        size_t chunks = 0;
        for (Bytes piece; got.size() < answer.size() && !(piece = client.receive(1, 2000)).empty();
             ++chunks) {
            const Bytes rest = client.receive(answer.size() - got.size() - 1, 4);
            got.insert(got.end(), piece.begin(), piece.end());
            got.insert(got.end(), rest.begin(), rest.end());
        }
        const auto last = std::chrono::steady_clock::now();
        const std::chrono::duration<double, std::milli> ms = last - start;
        line.server.finish();
        EXPECT_EQ(got, answer);
        EXPECT_GE(chunks, 5u);
        EXPECT_LE(chunks, static_cast<size_t>(lineMs / 16) + 3);
        EXPECT_GE(ms.count(), lineMs * 0.98);
        EXPECT_LE(ms.count(), lineMs + 2000);
    }
}
