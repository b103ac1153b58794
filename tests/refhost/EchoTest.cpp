// The echo of the port's own requests, as adapters that hear their transmitter hand it back:
// stripped when known, found out from exchanges whose echo differs from the answer, and never
// taken for the answer while it can't be told apart.

#include <gtest/gtest.h>

#include <qarn/refhost/LineReport.h>
#include "PtyPortTest.h"

namespace {

using refhost::EchoMode;
using refhost::SerialPort;

// A fresh port in `mode` on a pty of its own.
struct EchoLine {
    explicit EchoLine(EchoMode mode) {
        std::string error;
        port = SerialPort::open(device.path, error);
        EXPECT_NE(port, nullptr) << error;
        if (port != nullptr) {
            EXPECT_EQ(port->Setup(115200, 0, 8, 1, 1), 1);
            port->setEcho(mode);
        }
    }
    // Sends `request`, lets the device put `line` on the wire, and receives.
    Bytes exchange(const Bytes& request, const Bytes& line) {
        EXPECT_EQ(port->Send(request.data(), static_cast<int>(request.size()), 0),
                  static_cast<int>(request.size()));
        EXPECT_EQ(device.received(request.size()), request);
        if (!line.empty()) {
            device.sends(line);
        }
        return receiveFrom(*port, 150, 10);
    }

    PtyDevice device;
    std::unique_ptr<SerialPort> port;
};

const Bytes read1 = frame("01 03 00 00 00 01");
const Bytes answer1 = frame("01 03 02 12 34");
const Bytes write6 = frame("01 06 00 02 12 34");
const Bytes coil5 = frame("01 05 00 0B FF 00");
const Bytes coils768 = frame("01 01 03 00 00 18");  // its echo is a valid answer
const Bytes none;

TEST(SerialEcho, StrippedWhenOnFoundByAutoAndNeverTakenForTheAnswerWhileUnknown) {
    const struct {
        const char* what;
        EchoMode mode;
        Bytes request, line, expected;
        EchoMode found;
        int echoOnly;
        bool undecided;
    } cases[] = {
        {"on: write", EchoMode::On, write6, joined({write6, write6}), write6, EchoMode::On, 0,
         false},
        {"on: read", EchoMode::On, read1, joined({read1, answer1}), answer1, EchoMode::On, 0,
         false},
        {"on: echo only", EchoMode::On, write6, write6, none, EchoMode::On, 1, false},
        {"auto: echo of a read", EchoMode::Auto, read1, joined({read1, answer1}), answer1,
         EchoMode::On, 0, false},
        {"auto: read answered", EchoMode::Auto, read1, answer1, answer1, EchoMode::Off, 0, false},
        {"auto: exception first", EchoMode::Auto, coil5, frame("01 85 02"), frame("01 85 02"),
         EchoMode::Off, 0, false},
        {"auto: write", EchoMode::Auto, write6, write6, none, EchoMode::Auto, 0, true},
        {"auto: write, echo and answer", EchoMode::Auto, coil5, joined({coil5, coil5}), none,
         EchoMode::Auto, 0, true},
        {"auto: 24 coils from 768", EchoMode::Auto, coils768, coils768, none, EchoMode::Auto, 0,
         true},
        {"off: 24 coils from 768", EchoMode::Off, coils768, coils768, coils768, EchoMode::Off, 0,
         false},
        {"off: echo and answer", EchoMode::Off, read1, joined({read1, answer1}),
         joined({read1, answer1}), EchoMode::Off, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EchoLine line(c.mode);
        ASSERT_NE(line.port, nullptr);
        EXPECT_EQ(toHex(line.exchange(c.request, c.line)), toHex(c.expected));
        EXPECT_EQ(line.port->echo(), c.found);
        EXPECT_EQ(line.port->report().echoOnly, c.echoOnly);
        EXPECT_EQ(line.port->report().echoUndecided, c.undecided);
        EXPECT_EQ(
            refhost::describe(line.port->report()).find("echo not yet known: read once first"),
            c.undecided ? 0 : std::string::npos);
    }
}

TEST(SerialEcho, WhatAutoFoundHoldsForTheWritesThatFollow) {
    EchoLine echoing(EchoMode::Auto);
    ASSERT_NE(echoing.port, nullptr);
    ASSERT_EQ(echoing.exchange(read1, joined({read1, answer1})), answer1);
    EXPECT_EQ(echoing.exchange(write6, joined({write6, write6})), write6);
    EXPECT_EQ(echoing.exchange(write6, write6), none) << "the echo alone is no answer";
    EXPECT_EQ(echoing.port->report().echoOnly, 1);

    EchoLine plain(EchoMode::Auto);
    ASSERT_NE(plain.port, nullptr);
    ASSERT_EQ(plain.exchange(read1, answer1), answer1);
    EXPECT_EQ(plain.exchange(write6, write6), write6);
    // Setting the mode again starts over.
    plain.port->setEcho(EchoMode::Auto);
    EXPECT_EQ(plain.exchange(write6, write6), none);
}

}  // namespace
