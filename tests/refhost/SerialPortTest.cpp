#include <gtest/gtest.h>
#include <termios.h>

#include <cstdio>
#include <cstdlib>
#include <numeric>

#include <qarn/refhost/FrameTrace.h>
#include <qarn/refhost/LineReport.h>
#include <qarn/refhost/SerialFactory.h>
#include "PtyPortTest.h"

using refhost::SerialPort;

class SerialPortTest : public PtyPortTest {};

TEST_F(SerialPortTest, LineSettingsSetEveryFlagAndRawMode) {
    const struct {
        int baud, parity, bits, stop;
        speed_t speed;
        tcflag_t cflags;  // of CSIZE | CSTOPB | PARENB | PARODD | CMSPAR
    } cases[] = {
        {9600, 1, 8, 1, B9600, CS8 | PARENB},
        {19200, 2, 7, 2, B19200, CS7 | PARENB | PARODD | CSTOPB},
        {230400, 3, 8, 1, B230400, CS8 | PARENB | PARODD | CMSPAR},
    };
    for (const auto& c : cases) {
        termios tio{};
        tio.c_cflag = CS7 | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;  // all of it undone
        tio.c_lflag = ICANON | ECHO | ISIG;
        std::string error;
        ASSERT_TRUE(SerialPort::lineSettings(c.baud, c.parity, c.bits, c.stop, tio, error));
        EXPECT_EQ(cfgetospeed(&tio), c.speed) << c.baud;
        EXPECT_EQ(
            tio.c_cflag & (CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CLOCAL | CREAD | CRTSCTS),
            c.cflags | CLOCAL | CREAD)
            << c.baud;
        EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0U) << "not raw";
    }
}

TEST_F(SerialPortTest, SetupReachesTheDeviceAndRefusesWhatTheLineCannotDo) {
    // A pty keeps speed and stop bits (it ignores data bits and parity); termios requests on the
    // master act on the slave's settings.
    ASSERT_EQ(port->Setup(19200, 2, 8, 2, 0), 1) << port->lastError();
    termios tio{};
    ASSERT_EQ(tcgetattr(pty.master, &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), B19200);
    EXPECT_EQ(tio.c_cflag & CSTOPB, static_cast<tcflag_t>(CSTOPB));
    EXPECT_EQ(tio.c_oflag & OPOST, 0U);

    const struct {
        int baud, parity, bits, stop, mode;
        const char* error;
    } cases[] = {
        {460800, 0, 8, 1, 0, "unsupported baud rate 460800 (standard rates from 1200 to 230400)"},
        {9600, 4, 8, 1, 0, "unsupported parity code 4"},
        {9600, 0, 6, 1, 0, "unsupported data bits 6 (7 or 8)"},
        {9600, 0, 8, 3, 0, "unsupported stop bits 3 (1 or 2)"},
        {9600, 0, 8, 1, 3, "unsupported line mode 3"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(port->Setup(c.baud, c.parity, c.bits, c.stop, c.mode), 0) << c.error;
        EXPECT_EQ(port->lastError(), path + ": " + c.error);
    }
    // Send keeps 3.5 characters of silence, parity bit included (the arithmetic: rtu's tests).
    ASSERT_EQ(port->Setup(1200, 1, 8, 1, 0), 1);
    EXPECT_EQ(port->silenceUs(), 32085);
    // RS-485 on a device without the kernel's direction control carries on without it.
    ASSERT_EQ(port->Setup(9600, 1, 8, 1, 1), 1) << port->lastError();
    EXPECT_FALSE(port->rs485Active());
    send();
}

TEST_F(SerialPortTest, ReceiveStopsAt256BytesAndDrainThrowsAwayTheRest) {
    Bytes flood(300);
    std::iota(flood.begin(), flood.end(), 0);
    deviceSends(flood);
    settle();
    EXPECT_EQ(receive(1000, 50), Bytes(flood.begin(), flood.begin() + 256));
    uint8_t buffer[5];  // Drain counts all 44 left and copies what fits
    EXPECT_EQ(port->Drain(buffer, 4, 0), 44);
    EXPECT_EQ(Bytes(buffer, buffer + 4), hexBytes("00 01 02 03"));
    EXPECT_EQ(port->Drain(nullptr, 0, 0), 0);
}

TEST_F(SerialPortTest, FactoryMapsNamesOpensExclusivelyAndReportsAVanishedDevice) {
    std::string error;
    EXPECT_EQ(SerialPort::open("/nonexistent/ttyUSB9", error), nullptr);
    EXPECT_EQ(error, "/nonexistent/ttyUSB9: No such file or directory");
    EXPECT_EQ(SerialPort::open("/dev/null", error), nullptr);
    EXPECT_EQ(error, "/dev/null: not a serial device");
    port.reset();

    refhost::SerialFactory factory;
    EXPECT_FALSE(factory.addMapping("com1=ttyUSB0", error));
    EXPECT_EQ(error, "port mapping 'com1=ttyUSB0': the device path must be absolute");
    ASSERT_TRUE(factory.addMapping("com1=" + path, error));
    EXPECT_EQ(factory.OpenSerial("com2"), nullptr);
    EXPECT_EQ(factory.lastError(),
              "port 'com2' is not mapped to a device (use --port-map com2=PATH or give a device "
              "path)");

    ISerialPort* first = factory.OpenSerial("com1");
    ASSERT_NE(dynamic_cast<SerialPort*>(first), nullptr) << "no trace: the port itself";
    // The same device by its path, from this factory or from another program.
    const std::string busy = "port busy: " + path + " is in use by another program";
    EXPECT_EQ(factory.OpenSerial(path.c_str()), nullptr);
    EXPECT_EQ(factory.lastError(), busy);
    EXPECT_EQ(SerialPort::open(path, error), nullptr);
    EXPECT_EQ(error, busy);
    factory.CloseSerial(first);

    // A device that vanishes ends the wait for an answer at once; the factory keeps the reason.
    auto* again = dynamic_cast<SerialPort*>(factory.OpenSerial(path.c_str()));
    ASSERT_NE(again, nullptr) << factory.lastError();
    pty.hangUp();
    uint8_t buffer[256];
    int received = -1;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(again->Receive(buffer, 256, 5000, 10, &received, 0), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(4));
    EXPECT_EQ(again->lastError(), path + ": hang-up (device gone)");
    EXPECT_EQ(factory.lastError(), again->lastError());
    EXPECT_EQ(again->Drain(buffer, 256, 0), 0) << "Drain must end the caller's drain loop";
    EXPECT_EQ(again->Send(request.data(), 8, 0), 0);
    EXPECT_EQ(refhost::describe(factory.report()), "device gone: hang-up");
}

TEST_F(SerialPortTest, ADriverWithoutLowLatencyIsNotedOnceInTheTrace) {
    port.reset();
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    ASSERT_NE(out, nullptr);
    {
        refhost::FrameTrace trace(out);
        refhost::SerialFactory factory;
        factory.setTrace(&trace);
        ISerialPort* traced = factory.OpenSerial(path.c_str());
        ASSERT_NE(traced, nullptr) << factory.lastError();
        EXPECT_EQ(traced->Setup(9600, 1, 8, 1, 1), 1) << "a pty has no low latency: no error";
        EXPECT_EQ(traced->Setup(19200, 1, 8, 1, 1), 1);
    }
    std::fclose(out);
    const std::string lines = text;
    std::free(text);
    const size_t first = lines.find("LATENCY " + path + ": no low-latency mode");
    EXPECT_NE(first, std::string::npos) << lines;
    EXPECT_EQ(lines.find("LATENCY", first + 1), std::string::npos) << lines;
    EXPECT_NE(lines.find("SETUP " + path + " 19200 baud"), std::string::npos) << lines;
}
