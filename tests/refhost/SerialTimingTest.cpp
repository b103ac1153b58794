// Time bounds of the line: lower bounds are what the protocol relies on, the upper bounds are
// generous so that a loaded machine or the sanitizers do not make them fail.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/time.h>

#include "MultiTask.h"
#include "PtyPortTest.h"

using testbytes::Bytes;
using testbytes::hex;
using testbytes::withCrc;
using testbytes::wrapped;
using Clock = std::chrono::steady_clock;

namespace {

constexpr long long SlackMs = 2000;

long long msSince(Clock::time_point t0) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
}

void onAlarm(int) {}

}  // namespace

class SerialTiming : public PtyPortTest {
  protected:
    void SetUp() override {
        PtyPortTest::SetUp();
        ASSERT_EQ(port->Setup(115200, 0, 8, 1, 0), 1);
    }
};

TEST_F(SerialTiming, SleepLastsItsTimeAlsoWhenSignalsInterrupt) {
    struct sigaction action {};
    action.sa_handler = onAlarm;  // no SA_RESTART: the sleep sees EINTR
    struct sigaction previous {};
    ASSERT_EQ(sigaction(SIGALRM, &action, &previous), 0);
    itimerval timer{};
    timer.it_value.tv_usec = 15000;
    timer.it_interval.tv_usec = 15000;
    ASSERT_EQ(setitimer(ITIMER_REAL, &timer, nullptr), 0);
    const auto t0 = Clock::now();
    refhost::MultiTask().Sleep(100);
    const long long slept = msSince(t0);
    timer = itimerval{};
    setitimer(ITIMER_REAL, &timer, nullptr);
    sigaction(SIGALRM, &previous, nullptr);
    EXPECT_GE(slept, 100);
    EXPECT_LT(slept, 100 + SlackMs);
}

TEST_F(SerialTiming, SilentLineTakesTheWholeTotalTimeout) {
    const auto t0 = Clock::now();
    EXPECT_EQ(receive(150, 20), Bytes{});
    const long long took = msSince(t0);
    EXPECT_GE(took, 150);
    EXPECT_LT(took, 150 + SlackMs);
}

TEST_F(SerialTiming, InterCharacterGapEndsTheFrameAndShorterPausesDoNot) {
    std::thread device([this] {
        deviceSends(hex("01 02"));
        settle(40);  // well inside the gap
        deviceSends(hex("03 04"));
        settle(1500);  // well beyond it
        deviceSends(hex("05 06"));
    });
    const auto t0 = Clock::now();
    EXPECT_EQ(receive(3000, 500), hex("01 02 03 04"));
    const long long took = msSince(t0);
    EXPECT_GE(took, 40 + 500) << "ended before the gap was over";
    EXPECT_LT(took, 40 + 500 + SlackMs);
    EXPECT_EQ(receive(3000, 500), hex("05 06"));
    device.join();
}

TEST_F(SerialTiming, CompleteAnswerEndsTheFrameWithoutWaitingForTheGap) {
    const Bytes read = withCrc("01 03 00 00 00 01");
    const Bytes answer = withCrc("01 03 02 12 34");
    Bytes badCrc = answer;
    badCrc[4] ^= 0x01;
    const struct {
        const char* name;
        Bytes request;
        Bytes answer;
        bool early;
    } cases[] = {
        {"read answer", read, answer, true},
        {"wrapped", wrapped(read), wrapped(answer), true},
        {"bad CRC", read, badCrc, false},
    };
    const Bytes stray = hex("EE EE EE");
    for (const auto& c : cases) {
        const int size = static_cast<int>(c.request.size());
        ASSERT_EQ(port->Send(c.request.data(), size, 0), size);
        ASSERT_EQ(portSent(c.request.size()), c.request) << c.name;
        // Stray bytes follow within the gap: after an early end they are left for Drain.
        std::thread device([&] {
            deviceSends(c.answer);
            settle(100);
            deviceSends(stray);
        });
        const auto t0 = Clock::now();
        const Bytes got = receive(2000, c.early ? 3000 : 400);
        const long long took = msSince(t0);
        device.join();
        if (c.early) {
            // A gap far longer than any delay of a loaded machine: ending before it is proof.
            EXPECT_LT(took, 3000) << c.name << ": waited for the gap";
            EXPECT_EQ(got, c.answer) << c.name;
            settle();
            EXPECT_EQ(port->Drain(nullptr, 0, 0), 3) << c.name << ": stray bytes left for Drain";
        } else {
            EXPECT_EQ(got.size(), c.answer.size() + stray.size()) << c.name;
            EXPECT_GE(took, 100 + 400) << c.name << ": ended without a reason";
        }
    }
}

TEST_F(SerialTiming, SendKeepsTheLineQuietAfterTheLastByteReceived) {
    ASSERT_EQ(port->Setup(1200, 0, 8, 1, 0), 1);  // 3.5 characters: about 29 ms
    deviceSends(hex("55"));
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
