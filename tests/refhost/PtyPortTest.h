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

class PtyPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        int slave = -1;
        char name[256] = {};
        ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
        close(slave);  // ours would keep the line up after the port closes
        path = name;
        std::string error;
        port = refhost::SerialPort::open(path, error);
        ASSERT_NE(port, nullptr) << error;
        ASSERT_EQ(port->Setup(115200, 0, 8, 1, 0), 1);
    }
    ~PtyPortTest() override { close(master); }

    void deviceSends(const Bytes& bytes) const {
        ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // What the port sent: `count` bytes, or what came within 2 s.
    Bytes portSent(size_t count) const {
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
    // Receive into a 256-byte buffer: the bytes that came, after checking both counts agree.
    Bytes receive(int timeoutMs, int gapMs) {
        uint8_t buffer[257];
        buffer[256] = 0xEE;
        int received = -1;
        const int n = port->Receive(buffer, 256, timeoutMs, gapMs, &received, 0);
        EXPECT_EQ(n, received);
        EXPECT_EQ(buffer[256], 0xEE) << "written past the buffer";
        return Bytes(buffer, buffer + (n > 0 ? n : 0));
    }
    // Bytes written on the master reach the slave through the kernel's buffer work.
    static void settle(int ms = 100) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

    int master = -1;
    std::string path;
    std::unique_ptr<refhost::SerialPort> port;
    const Bytes request = frame("01 03 00 00 00 01");
};
