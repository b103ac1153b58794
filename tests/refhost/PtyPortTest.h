#pragma once
// A serial port opened on a pty pair: the port under test opens the pty's slave by its path,
// the test plays the device on the master.

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include <qarn/refhost/SerialPort.h>
#include "TestBytes.h"

// The device end of a pty pair; `path` names the end a port opens.
struct PtyDevice {
    PtyDevice() {
        int slave = -1;
        char name[256] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) == 0) {
            close(slave);  // ours would keep the line up after the port closes
            path = name;
        }
    }
    ~PtyDevice() { hangUp(); }
    PtyDevice(const PtyDevice&) = delete;
    PtyDevice& operator=(const PtyDevice&) = delete;

    void sends(const Bytes& bytes) const {
        ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // What the port sent: `count` bytes, or what came within 2 s.
    Bytes received(size_t count) const {
        Bytes out;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        for (pollfd p{master, POLLIN, 0};
             out.size() < count && std::chrono::steady_clock::now() < end;) {
            uint8_t buf[512];
            const ssize_t n = poll(&p, 1, 10) > 0 ? read(master, buf, sizeof buf) : 0;
            out.insert(out.end(), buf, buf + (n > 0 ? n : 0));
        }
        return out;
    }
    // The device goes away (cable pulled).
    void hangUp() {
        if (master >= 0) {
            close(std::exchange(master, -1));
        }
    }

    int master = -1;
    std::string path;
};

// Receive into a 256-byte buffer: the bytes that came, after checking both counts agree.
inline Bytes receiveFrom(ISerialPort& port, int timeoutMs, int gapMs) {
    uint8_t buffer[257];
    buffer[256] = 0xEE;
    int received = -1;
    const int n = port.Receive(buffer, 256, timeoutMs, gapMs, &received, 0);
    EXPECT_EQ(n, received);
    EXPECT_EQ(buffer[256], 0xEE) << "written past the buffer";
    return Bytes(buffer, buffer + (n > 0 ? n : 0));
}

// Upper bounds of time-bound checks: generous, for loaded machines and the sanitizers.
constexpr long long SlackMs = 2000;
using Clock = std::chrono::steady_clock;

inline long long msSince(Clock::time_point t0) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
}

inline Bytes joined(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

class PtyPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(pty.path.empty());
        std::string error;
        port = refhost::SerialPort::open(path, error);
        ASSERT_NE(port, nullptr) << error;
        ASSERT_EQ(port->Setup(115200, 0, 8, 1, 0), 1);
    }

    void deviceSends(const Bytes& bytes) const { pty.sends(bytes); }
    Bytes portSent(size_t count) const { return pty.received(count); }
    Bytes receive(int timeoutMs, int gapMs) { return receiveFrom(*port, timeoutMs, gapMs); }
    // Sends the request and checks that the device got it; how long Send took, in ms.
    long long send() {
        const auto t0 = Clock::now();
        EXPECT_EQ(port->Send(request.data(), 8, 0), 8);
        const long long took = msSince(t0);
        EXPECT_EQ(portSent(8), request);
        return took;
    }
    // Bytes written on the master reach the slave through the kernel's buffer work.
    static void settle(int ms = 100) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

    PtyDevice pty;
    const std::string path = pty.path;
    std::unique_ptr<refhost::SerialPort> port;
    const Bytes request = frame("01 03 00 00 00 01");
};
