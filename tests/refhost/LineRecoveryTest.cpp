// How the port keeps wrong data from passing and a poll from spinning when the line misbehaves:
// late answers are thrown away before the next request, a gone device is waited for and reopened
// under its name, and the stop request ends every wait. Lower bounds are what the port promises,
// upper bounds are generous for loaded machines and the sanitizers.

#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <functional>

#include <qarn/refhost/SerialFactory.h>
#include "PtyPortTest.h"
#include "TempDir.h"

namespace {

using refhost::SerialPort;

class LineRecovery : public PtyPortTest {
  protected:
    refhost::LineReport report;
};

TEST_F(LineRecovery, LateAnswersAreThrownAwayBeforeTheNextRequestAlsoOnceAfterSuccess) {
    port->reportInto(&report);
    constexpr int TimeoutMs = 300;  // the guard time as well
    const Bytes late = frame("01 03 02 11 11");
    send();
    std::thread slow([&] {
        settle(TimeoutMs + 100);
        deviceSends(late);
    });
    EXPECT_EQ(receive(TimeoutMs, 10), Bytes{});
    EXPECT_TRUE(port->guardArmed());
    // The repeat goes out only once the line has been quiet for the guard time.
    EXPECT_GE(send(), TimeoutMs);
    slow.join();
    EXPECT_EQ(report.lateBytes, 7);
    deviceSends(frame("01 03 02 22 22"));
    EXPECT_EQ(receive(TimeoutMs, 10), frame("01 03 02 22 22")) << "the late answer is not taken";

    // A slave that queued the repeat answers once more: the next request waits that out too.
    EXPECT_TRUE(port->guardArmed());
    std::thread queued([&] {
        settle(30);
        deviceSends(late);
    });
    EXPECT_GE(send(), TimeoutMs);
    queued.join();
    EXPECT_EQ(report.lateBytes, 14);
    deviceSends(frame("01 03 02 33 33"));
    EXPECT_EQ(receive(TimeoutMs, 10), frame("01 03 02 33 33"));

    // A healthy line never waits.
    EXPECT_FALSE(port->guardArmed());
    EXPECT_LT(send(), TimeoutMs);
    EXPECT_EQ(refhost::describe(report),
              "no answer within 300 ms, 1 try; late or foreign "
              "answers discarded");
}

TEST(LineLoss, AGoneDeviceIsWaitedForAndReopenedUnderItsNameOnceItIsBack) {
    TempDir dir;
    const std::string link = dir.file("ttyQARN");
    auto first = std::make_unique<PtyDevice>();
    ASSERT_EQ(symlink(first->path.c_str(), link.c_str()), 0);
    refhost::SerialFactory factory;
    ISerialPort* port = factory.OpenSerial(link.c_str());
    auto* serial = dynamic_cast<SerialPort*>(port);
    ASSERT_NE(serial, nullptr) << factory.lastError();
    ASSERT_EQ(port->Setup(19200, 0, 8, 1, 0), 1);
    const Bytes request = frame("01 03 00 00 00 01");
    ASSERT_EQ(port->Send(request.data(), 8, 0), 8);
    first->sends(frame("01 03 02 00 06"));
    ASSERT_EQ(receiveFrom(*port, 1000, 10), frame("01 03 02 00 06"));
    EXPECT_EQ(serial->echo(), refhost::EchoMode::Off) << "found out by the factory's Auto";

    factory.beginReport();
    first.reset();  // the adapter is pulled, its name goes with it
    ASSERT_EQ(unlink(link.c_str()), 0);
    const auto t0 = Clock::now();
    EXPECT_EQ(receiveFrom(*port, 5000, 10), Bytes{});
    EXPECT_LT(msSince(t0), SlackMs);
    EXPECT_TRUE(serial->gone());
    // While it is gone every request waits out the back-off: a poll does not spin.
    for (int i = 0; i < 2; ++i) {
        const auto t1 = Clock::now();
        EXPECT_EQ(port->Send(request.data(), 8, 0), 0);
        EXPECT_GE(msSince(t1), SerialPort::ReopenBackoffMs / 2);
        EXPECT_LT(msSince(t1), SerialPort::ReopenBackoffMs + SlackMs);
    }
    EXPECT_EQ(serial->lastError(), link + ": No such file or directory");
    EXPECT_EQ(factory.lastError(), serial->lastError());
    EXPECT_EQ(refhost::describe(factory.report()), "device gone: No such file or directory");

    PtyDevice second;  // plugged in again
    ASSERT_EQ(symlink(second.path.c_str(), link.c_str()), 0);
    EXPECT_EQ(port->Send(request.data(), 8, 0), 8);
    EXPECT_EQ(second.received(8), request);
    EXPECT_EQ(serial->echo(), refhost::EchoMode::Auto) << "another adapter may echo";
    second.sends(frame("01 03 02 00 07"));
    EXPECT_EQ(receiveFrom(*port, 1000, 10), frame("01 03 02 00 07"));
    EXPECT_FALSE(serial->gone());
    EXPECT_EQ(serial->lastError(), "");
    EXPECT_EQ(refhost::describe(factory.report()), "");
    termios tio{};
    ASSERT_EQ(tcgetattr(second.master, &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), B19200) << "the line is set up as before";
}

TEST_F(LineRecovery, TheStopRequestEndsEveryWaitAtOnce) {
    int stop[2];
    ASSERT_EQ(pipe(stop), 0);
    port->setCancelFd(stop[0]);
    port->reportInto(&report);
    const struct {
        const char* what;
        std::function<void()> prepare;
        std::function<int()> wait;
    } cases[] = {
        {"receive", [] {}, [this] { return static_cast<int>(receive(5000, 10).size()); }},
        {"guard",
         [this] {
             port->setLateGuardMs(5000);
             send();
             receive(10, 10);  // no answer: the guard is armed
         },
         [this] { return port->Send(request.data(), 8, 0); }},
        {"back-off",
         [this] {
             pty.hangUp();
             receive(10, 10);
         },
         [this] { return port->Send(request.data(), 8, 0); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.prepare();
        Clock::time_point stopped{};
        std::thread user([&] {
            settle(100);
            stopped = Clock::now();
            ASSERT_EQ(write(stop[1], "x", 1), 1);
        });
        const auto t0 = Clock::now();
        EXPECT_EQ(c.wait(), 0);
        const auto t1 = Clock::now();
        user.join();
        EXPECT_GE(t1 - t0, std::chrono::milliseconds(100)) << "ended before the stop";
        EXPECT_LT(t1 - stopped, std::chrono::milliseconds(200));
        EXPECT_TRUE(report.cancelled);
        char byte = 0;
        ASSERT_EQ(read(stop[0], &byte, 1), 1) << "left for its owner to read";
        report.cancelled = false;
    }
    close(stop[0]);
    close(stop[1]);
}

}  // namespace
