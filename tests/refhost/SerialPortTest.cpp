#include <gtest/gtest.h>
#include <termios.h>

#include <cstdio>
#include <regex>

#include "FrameTrace.h"
#include "PtyPortTest.h"
#include "SerialFactory.h"
#include "TraceSerialPort.h"

using refhost::FrameTrace;
using refhost::SerialFactory;
using refhost::SerialPort;
using testbytes::Bytes;
using testbytes::hex;
using testbytes::withCrc;

class SerialPortTest : public PtyPortTest {};

TEST_F(SerialPortTest, LineSettingsSetEveryFlagAndRawMode) {
    const struct {
        int baud, parity, bits, stop;
        speed_t speed;
        tcflag_t cflags;  // of CSIZE | CSTOPB | PARENB | PARODD | CMSPAR
    } cases[] = {
        {9600, 1, 8, 1, B9600, CS8 | PARENB},
        {1200, 0, 8, 2, B1200, CS8 | CSTOPB},
        {19200, 2, 7, 1, B19200, CS7 | PARENB | PARODD},
        {230400, 3, 8, 1, B230400, CS8 | PARENB | PARODD | CMSPAR},
        {38400, 0, 7, 2, B38400, CS7 | CSTOPB},
        {115200, 1, 8, 1, B115200, CS8 | PARENB},
    };
    for (const auto& c : cases) {
        termios tio{};
        tio.c_cflag = CS7 | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;  // all of it undone
        tio.c_lflag = ICANON | ECHO | ISIG;
        std::string error;
        ASSERT_TRUE(SerialPort::lineSettings(c.baud, c.parity, c.bits, c.stop, tio, error));
        EXPECT_EQ(cfgetospeed(&tio), c.speed) << c.baud;
        EXPECT_EQ(cfgetispeed(&tio), c.speed) << c.baud;
        EXPECT_EQ(tio.c_cflag & (CSIZE | CSTOPB | PARENB | PARODD | CMSPAR), c.cflags) << c.baud;
        EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD | CRTSCTS), CLOCAL | CREAD) << c.baud;
        EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0U) << "not raw";
    }
}

TEST_F(SerialPortTest, SetupReachesTheDeviceAndRefusesWhatTheLineCannotDo) {
    // A pty keeps speed and stop bits (it ignores data bits and parity); termios requests on the
    // master act on the slave's settings.
    ASSERT_EQ(port->Setup(19200, 2, 8, 2, 0), 1) << port->lastError();
    termios tio{};
    ASSERT_EQ(tcgetattr(master, &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), B19200);
    EXPECT_EQ(tio.c_cflag & CSTOPB, static_cast<tcflag_t>(CSTOPB));
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0U);
    EXPECT_EQ(tio.c_oflag & OPOST, 0U);

    const struct {
        int baud, parity, bits, stop, mode;
        const char* error;
    } cases[] = {
        {300, 0, 8, 1, 0, "unsupported baud rate 300 (standard rates from 1200 to 230400)"},
        {9601, 0, 8, 1, 0, "unsupported baud rate 9601 (standard rates from 1200 to 230400)"},
        {460800, 0, 8, 1, 0, "unsupported baud rate 460800 (standard rates from 1200 to 230400)"},
        {9600, 4, 8, 1, 0, "unsupported parity code 4"},
        {9600, 0, 6, 1, 0, "unsupported data bits 6 (7 or 8)"},
        {9600, 0, 8, 3, 0, "unsupported stop bits 3 (1 or 2)"},
        {9600, 0, 8, 1, 3, "unsupported line mode 3"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(port->Setup(c.baud, c.parity, c.bits, c.stop, c.mode), 0) << c.error;
        EXPECT_EQ(port->lastError(), path + ": " + c.error);
        EXPECT_FALSE(port->gone());
    }

    // Send keeps 3.5 characters of silence, a fixed 1750 us above 19200 baud.
    const struct {
        int baud, parity;
        int64_t silenceUs;
    } lines[] = {{1200, 0, 29169}, {9600, 1, 4011}, {19200, 1, 2006}, {38400, 1, 1750}};
    for (const auto& l : lines) {
        ASSERT_EQ(port->Setup(l.baud, l.parity, 8, 1, 0), 1);
        EXPECT_EQ(port->silenceUs(), l.silenceUs) << l.baud;
    }

    // RS-485 on a device without the kernel's direction control carries on without it.
    ASSERT_EQ(port->Setup(9600, 1, 8, 1, 1), 1) << port->lastError();
    EXPECT_FALSE(port->rs485Active());
    EXPECT_EQ(port->Send(request.data(), 8, 0), 8);
    EXPECT_EQ(portSent(8), request);
}

TEST_F(SerialPortTest, ReceiveStopsAt256BytesAndDrainThrowsAwayTheRest) {
    ASSERT_EQ(port->Setup(115200, 0, 8, 1, 0), 1);
    Bytes flood(300);
    for (size_t i = 0; i < flood.size(); ++i) {
        flood[i] = static_cast<uint8_t>(i);
    }
    deviceSends(flood);
    settle();
    uint8_t buffer[257];
    buffer[256] = 0xEE;
    int received = -1;
    EXPECT_EQ(port->Receive(buffer, 256, 1000, 50, &received, 0), 256);
    EXPECT_EQ(received, 256);
    EXPECT_EQ(Bytes(buffer, buffer + 256), Bytes(flood.begin(), flood.begin() + 256));
    EXPECT_EQ(buffer[256], 0xEE);
    // Drain counts all 44 left and copies what fits.
    EXPECT_EQ(port->Drain(buffer, 4, 0), 44);
    EXPECT_EQ(Bytes(buffer, buffer + 5), hex("00 01 02 03 04"));
    EXPECT_EQ(port->Drain(nullptr, 0, 0), 0);
}

TEST_F(SerialPortTest, FactoryMapsNamesOpensExclusivelyAndReportsAVanishedDevice) {
    std::string error;
    EXPECT_EQ(SerialPort::open("/nonexistent/ttyUSB9", error), nullptr);
    EXPECT_EQ(error, "/nonexistent/ttyUSB9: No such file or directory");
    EXPECT_EQ(SerialPort::open("/dev/null", error), nullptr);
    EXPECT_EQ(error, "/dev/null: not a serial device");
    port.reset();

    SerialFactory factory;
    EXPECT_FALSE(factory.addMapping("com1", error));
    EXPECT_EQ(error, "port mapping 'com1' is not NAME=PATH (e.g. com1=/dev/ttyUSB0)");
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
    EXPECT_EQ(factory.openCount(), 1U);
    factory.CloseSerial(first);
    EXPECT_EQ(factory.openCount(), 0U);

    // A device that vanishes ends every call at once, and the factory keeps the reason.
    auto* again = dynamic_cast<SerialPort*>(factory.OpenSerial(path.c_str()));
    ASSERT_NE(again, nullptr) << factory.lastError();
    unplug();
    uint8_t buffer[256];
    int received = -1;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(again->Receive(buffer, 256, 5000, 10, &received, 0), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(4));
    EXPECT_EQ(received, 0);
    EXPECT_TRUE(again->gone());
    EXPECT_EQ(again->lastError(), path + ": hang-up (device gone)");
    EXPECT_EQ(factory.lastError(), again->lastError());
    EXPECT_EQ(again->Drain(buffer, 256, 0), 0) << "Drain must end the caller's drain loop";
    EXPECT_EQ(again->Send(request.data(), 8, 0), 0);
}

TEST_F(SerialPortTest, TracedPortPassesTrafficThroughAndWritesOneStampedLinePerEvent) {
    port.reset();
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    FrameTrace trace(out);
    SerialFactory factory;
    factory.setTrace(&trace);
    ISerialPort* traced = factory.OpenSerial(path.c_str());
    ASSERT_NE(dynamic_cast<refhost::TraceSerialPort*>(traced), nullptr) << factory.lastError();
    ASSERT_EQ(traced->Setup(115200, 1, 8, 1, 1), 1);

    deviceSends(hex("AA BB"));
    settle();
    uint8_t buffer[256] = {0x55};
    EXPECT_EQ(traced->Drain(buffer, 0, 0), 2);
    EXPECT_EQ(buffer[0], 0x55) << "the caller's empty room stays untouched";
    EXPECT_EQ(traced->Send(request.data(), 8, 0), 8);
    EXPECT_EQ(portSent(8), request);
    const Bytes answer = withCrc("01 03 02 00 2A");
    deviceSends(answer);
    int received = 0;
    EXPECT_EQ(traced->Receive(buffer, 256, 1000, 50, &received, 0), 7);
    EXPECT_EQ(Bytes(buffer, buffer + received), answer);
    EXPECT_EQ(traced->Receive(buffer, 256, 20, 10, &received, 0), 0);
    factory.CloseSerial(traced);

    std::rewind(out);
    const std::string expected[] = {
        "SETUP " + path + " 115200 baud, parity even, 8 data bits, 1 stop bits, RS-485",
        "DROP AA BB  | ",
        "TX   01 03 00 00 00 01 84 0A  | node 1, fn 3",
        "RX   " + FrameTrace::hex(answer.data(), 7) + "  | node 1, fn 3 read holding registers",
        "RX   nothing within 20 ms",
    };
    char line[512];
    for (const std::string& e : expected) {
        ASSERT_NE(std::fgets(line, sizeof line, out), nullptr) << "missing: " << e;
        EXPECT_TRUE(std::regex_search(line, std::regex(R"(^\d\d:\d\d:\d\d\.\d{6} )"))) << line;
        EXPECT_NE(std::string(line).find(e), std::string::npos) << line;
    }
    EXPECT_EQ(std::fgets(line, sizeof line, out), nullptr) << "one line too many: " << line;
    std::fclose(out);
}
