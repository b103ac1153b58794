// Time bounds of the line: lower bounds are what the protocol relies on, the upper bounds are
// generous so that a loaded machine or the sanitizers do not make them fail.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/time.h>

#include <qarn/refhost/MultiTask.h>
#include "PtyPortTest.h"

class SerialTiming : public PtyPortTest {};

TEST_F(SerialTiming, SleepLastsItsTimeAlsoWhenSignalsInterrupt) {
    const auto previous = signal(SIGALRM, [](int) {});  // sleeps are never restarted
    itimerval timer{{0, 15000}, {0, 15000}};
    ASSERT_EQ(setitimer(ITIMER_REAL, &timer, nullptr), 0);
    const auto t0 = Clock::now();
    refhost::MultiTask().Sleep(100);
    const long long slept = msSince(t0);
    timer = itimerval{};
    setitimer(ITIMER_REAL, &timer, nullptr);
    signal(SIGALRM, previous);
    EXPECT_GE(slept, 100);
    EXPECT_LT(slept, 100 + SlackMs);
}

TEST_F(SerialTiming, InterCharacterGapEndsTheFrameAndASilentLineTakesTheTotalTimeout) {
    std::thread device([this] {
        deviceSends(hexBytes("01 02"));
        settle(40);  // well inside the gap
        deviceSends(hexBytes("03 04"));
        settle(1500);  // well beyond it
        deviceSends(hexBytes("05 06"));
    });
    const auto t0 = Clock::now();
    EXPECT_EQ(receive(3000, 500), hexBytes("01 02 03 04"));
    const long long took = msSince(t0);
    EXPECT_GE(took, 40 + 500) << "ended before the gap was over";
    EXPECT_LT(took, 40 + 500 + SlackMs);
    EXPECT_EQ(receive(3000, 500), hexBytes("05 06"));
    device.join();
    const auto t1 = Clock::now();
    EXPECT_EQ(receive(150, 20), Bytes{});
    EXPECT_GE(msSince(t1), 150);
    EXPECT_LT(msSince(t1), 150 + SlackMs);
}

TEST_F(SerialTiming, SendKeepsTheLineQuietAfterTheLastByteReceived) {
    ASSERT_EQ(port->Setup(1200, 0, 8, 1, 0), 1);  // 3.5 characters: about 29 ms
    deviceSends(hexBytes("55"));
    settle();
    // The byte is taken in after t0, so the quiet time runs from after t0 as well.
    const auto t0 = Clock::now();
    ASSERT_EQ(port->Drain(nullptr, 0, 0), 1);
    ASSERT_EQ(port->Send(request.data(), 8, 0), 8);
    const auto tookUs =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0).count();
    EXPECT_GE(tookUs, port->silenceUs());
    EXPECT_LT(tookUs, port->silenceUs() + SlackMs * 1000);
    EXPECT_EQ(portSent(8), request);
}

// A known answer ends as soon as it is complete: bytes that follow it, even within the gap, are
// left for Drain. Bytes of no known length end on the gap.
TEST_F(SerialTiming, AnAnswerInBurstsIsWaitedForWhileBytesOfNoKnownLengthEndOnTheGap) {
    port->setLateGuardMs(0);  // the cases follow each other at once
    const Bytes read20 = frame("01 03 00 00 00 14");
    Bytes answer = hexBytes("01 03 28");
    for (uint8_t i = 0; i < 40; ++i) {
        answer.push_back(i);
    }
    answer = joined({qarntest::withCrc(answer), hexBytes("EE EE EE")});  // 45 bytes, 3 stray
    const Bytes garbage(45, 0x55);
    // Bursts of 15 bytes, as an adapter with a latency timer hands them on.
    const struct {
        const char* what;
        const Bytes& line;
        int spacingMs, gapMs;
        size_t expected;
    } cases[] = {
        {"answer, bursts closer than the gap", answer, 6, 10, 45},
        {"answer, bursts farther apart than the gap", answer, 16, 10, 45},
        // Ending before a gap as long as the time-out is proof of the early end.
        {"answer, gap as long as the time-out", answer, 6, 3000, 45},
        // Wide margins: a starved process sees a gap only as long as it is away.
        {"garbage, bursts farther apart than the gap", garbage, 100, 10, 15},
        {"garbage, bursts closer than a longer gap", garbage, 100, 400, 45},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(port->Send(read20.data(), 8, 0), 8);
        ASSERT_EQ(portSent(8), read20);
        std::thread device([&] {
            for (size_t at = 0; at < c.line.size(); at += 15) {
                std::this_thread::sleep_for(std::chrono::milliseconds(at == 0 ? 0 : c.spacingMs));
                deviceSends(
                    Bytes(c.line.begin() + static_cast<long>(at),
                          c.line.begin() + static_cast<long>(std::min(at + 15, c.line.size()))));
            }
        });
        const auto t0 = Clock::now();
        EXPECT_EQ(receive(3000, c.gapMs), Bytes(c.line.begin(), c.line.begin() + c.expected));
        const long long took = msSince(t0);
        device.join();
        EXPECT_LT(took, 3000) << "waited for the time-out";
        if (c.expected == 45) {
            EXPECT_GE(took, 2 * c.spacingMs);
        }
        settle(50);
        EXPECT_EQ(port->Drain(nullptr, 0, 0), static_cast<int>(c.line.size() - c.expected));
    }
}
