// Time bounds of the line: lower bounds are what the protocol relies on, the upper bounds are
// generous so that a loaded machine or the sanitizers do not make them fail.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/time.h>

#include <chrono>
#include <thread>

#include "MultiTask.h"
#include "PtyPair.h"
#include "SerialPort.h"
#include "TestBytes.h"

using refhost::SerialPort;
using testbytes::Bytes;
using testbytes::withCrc;
using testbytes::wrapped;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto Slack = std::chrono::milliseconds(2000);

long long msSince(Clock::time_point t0) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
}

long long usSince(Clock::time_point t0) {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0).count();
}

void onAlarm(int) {}

}  // namespace

TEST(SleepTiming, SleepsAtLeastTheTimeAlsoWhenSignalsInterrupt) {
    refhost::MultiTask task;
    auto t0 = Clock::now();
    task.Sleep(60);
    EXPECT_GE(msSince(t0), 60);
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(60) + Slack);

    struct sigaction action {};
    action.sa_handler = onAlarm;  // no SA_RESTART: the sleep sees EINTR
    struct sigaction previous {};
    ASSERT_EQ(sigaction(SIGALRM, &action, &previous), 0);
    itimerval timer{};
    timer.it_value.tv_usec = 15000;
    timer.it_interval.tv_usec = 15000;
    ASSERT_EQ(setitimer(ITIMER_REAL, &timer, nullptr), 0);
    t0 = Clock::now();
    task.Sleep(100);
    const long long slept = msSince(t0);
    timer = itimerval{};
    setitimer(ITIMER_REAL, &timer, nullptr);
    sigaction(SIGALRM, &previous, nullptr);
    EXPECT_GE(slept, 100);
    EXPECT_LT(slept, 100 + 2000);
}

class SerialTiming : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty.ok());
        std::string error;
        port = SerialPort::open(pty.slavePath(), error);
        ASSERT_NE(port, nullptr) << error;
        ASSERT_EQ(port->Setup(115200, 0, 8, 1, 0), 1);
    }

    PtyPair pty;
    std::unique_ptr<SerialPort> port;
    uint8_t buffer[256] = {};
    int received = -1;
};

TEST_F(SerialTiming, SilentLineTakesTheWholeTimeout) {
    const auto t0 = Clock::now();
    EXPECT_EQ(port->Receive(buffer, 256, 150, 20, &received, 0), 0);
    EXPECT_EQ(received, 0);
    EXPECT_GE(msSince(t0), 150);
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(150) + Slack);
}

TEST_F(SerialTiming, FrameEndsAfterTheInterCharacterGap) {
    pty.write(testbytes::hex("11 22 33"));
    const auto t0 = Clock::now();
    EXPECT_EQ(port->Receive(buffer, 256, 1000, 120, &received, 0), 3);
    EXPECT_GE(msSince(t0), 120) << "ended before the gap was over";
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(120) + Slack);
}

TEST_F(SerialTiming, PauseLongerThanTheGapSplitsFramesShorterOneDoesNot) {
    std::thread device([this] {
        pty.write(testbytes::hex("01 02"));
        std::this_thread::sleep_for(std::chrono::milliseconds(40));  // well inside the gap
        pty.write(testbytes::hex("03 04"));
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // well beyond it
        pty.write(testbytes::hex("05 06"));
    });
    EXPECT_EQ(port->Receive(buffer, 256, 3000, 500, &received, 0), 4);
    EXPECT_EQ(Bytes(buffer, buffer + 4), testbytes::hex("01 02 03 04"));
    EXPECT_EQ(port->Receive(buffer, 256, 3000, 500, &received, 0), 2);
    EXPECT_EQ(Bytes(buffer, buffer + 2), testbytes::hex("05 06"));
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
        {"exception", read, withCrc("01 83 02"), true},
        {"write 6 echo", withCrc("01 06 00 00 12 34"), withCrc("01 06 00 00 12 34"), true},
        {"wrapped", wrapped(read), wrapped(answer), true},
        {"bad CRC", read, badCrc, false},
        {"wrapped request, bare answer", wrapped(read), answer, false},
    };
    const Bytes stray = testbytes::hex("EE EE EE");
    for (const auto& c : cases) {
        ASSERT_EQ(port->Send(c.request.data(), static_cast<int>(c.request.size()), 0),
                  static_cast<int>(c.request.size()));
        ASSERT_EQ(pty.read(c.request.size()), c.request) << c.name;
        if (c.early) {
            // A gap far longer than any delay of a loaded machine: ending before it is proof.
            pty.write(c.answer);
            const auto t0 = Clock::now();
            const int n = port->Receive(buffer, 256, 2000, 3000, &received, 0);
            EXPECT_LT(msSince(t0), 3000) << c.name << ": waited for the gap";
            EXPECT_EQ(n, static_cast<int>(c.answer.size())) << c.name;
            EXPECT_EQ(Bytes(buffer, buffer + n), c.answer) << c.name;
            pty.write(stray);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            EXPECT_EQ(port->Drain(nullptr, 0, 0), 3) << c.name << ": stray bytes left for Drain";
        } else {
            std::thread device([&] {
                pty.write(c.answer);
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                pty.write(stray);
            });
            const auto t0 = Clock::now();
            const int n = port->Receive(buffer, 256, 2000, 400, &received, 0);
            const long long tookMs = msSince(t0);
            device.join();
            EXPECT_EQ(n, static_cast<int>(c.answer.size() + stray.size())) << c.name;
            EXPECT_GE(tookMs, 400) << c.name << ": ended without a reason";
        }
    }
}

TEST_F(SerialTiming, SendKeepsTheLineQuietAfterTheLastByteReceived) {
    ASSERT_EQ(port->Setup(1200, 0, 8, 1, 0), 1);  // 3.5 characters: about 29 ms
    pty.write(testbytes::hex("55"));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    // The byte is taken in after t0, so the quiet time runs from after t0 as well.
    const auto t0 = Clock::now();
    ASSERT_EQ(port->Drain(nullptr, 0, 0), 1);
    const Bytes frame = withCrc("01 03 00 00 00 01");
    ASSERT_EQ(port->Send(frame.data(), 8, 0), 8);
    EXPECT_GE(usSince(t0), port->silenceUs());
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(30) + Slack);
    EXPECT_EQ(pty.read(8), frame);
}
