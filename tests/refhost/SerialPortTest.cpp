#include "SerialPort.h"

#include <gtest/gtest.h>
#include <termios.h>

#include <cstdio>
#include <thread>

#include "FrameTrace.h"
#include "PtyPair.h"
#include "SerialFactory.h"
#include "TestBytes.h"
#include "TraceSerialPort.h"

using refhost::SerialFactory;
using refhost::SerialPort;
using testbytes::Bytes;
using testbytes::withCrc;

namespace {

// Bytes written on the master reach the slave through the kernel's buffer work: give them time.
void settle() {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

}  // namespace

class SerialPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty.ok());
        std::string error;
        port = SerialPort::open(pty.slavePath(), error);
        ASSERT_NE(port, nullptr) << error;
    }

    PtyPair pty;
    std::unique_ptr<SerialPort> port;
};

TEST(SerialPortOpen, RefusesWhatIsNoSerialDevice) {
    std::string error;
    EXPECT_EQ(SerialPort::open("/nonexistent/ttyUSB9", error), nullptr);
    EXPECT_EQ(error, "/nonexistent/ttyUSB9: No such file or directory");
    EXPECT_EQ(SerialPort::open("/dev/null", error), nullptr);
    EXPECT_EQ(error, "/dev/null: not a serial device");
}

TEST_F(SerialPortTest, SecondOpenOfTheSamePortIsBusyUntilTheFirstCloses) {
    std::string error;
    EXPECT_EQ(SerialPort::open(pty.slavePath(), error), nullptr);
    EXPECT_EQ(error, "port busy: " + pty.slavePath() + " is in use by another program");
    port.reset();
    auto again = SerialPort::open(pty.slavePath(), error);
    EXPECT_NE(again, nullptr) << error;
}

TEST(SerialLineSettings, EveryParameterLandsInTheFlags) {
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
        {2400, 1, 8, 1, B2400, CS8 | PARENB},
        {4800, 1, 8, 1, B4800, CS8 | PARENB},
        {57600, 1, 8, 1, B57600, CS8 | PARENB},
        {115200, 1, 8, 1, B115200, CS8 | PARENB},
    };
    const tcflag_t mask = CSIZE | CSTOPB | PARENB | PARODD | CMSPAR;
    for (const auto& c : cases) {
        termios tio{};
        tio.c_cflag = CS7 | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;  // all of it undone
        tio.c_lflag = ICANON | ECHO | ISIG;
        std::string error;
        ASSERT_TRUE(SerialPort::lineSettings(c.baud, c.parity, c.bits, c.stop, tio, error))
            << error;
        EXPECT_EQ(cfgetospeed(&tio), c.speed) << c.baud;
        EXPECT_EQ(cfgetispeed(&tio), c.speed) << c.baud;
        EXPECT_EQ(tio.c_cflag & mask, c.cflags) << c.baud;
        EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD | CRTSCTS), CLOCAL | CREAD) << c.baud;
        EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0U) << "not raw";
    }
}

TEST_F(SerialPortTest, SetupReachesTheDevice) {
    // A pty keeps speed and stop bits (it ignores data bits and parity).
    ASSERT_EQ(port->Setup(19200, 2, 8, 2, 0), 1) << port->lastError();
    termios tio{};
    // Termios requests on the master act on the slave's settings.
    ASSERT_EQ(tcgetattr(pty.master(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), B19200);
    EXPECT_EQ(tio.c_cflag & CSTOPB, static_cast<tcflag_t>(CSTOPB));
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0U);
    EXPECT_EQ(tio.c_oflag & OPOST, 0U);
}

TEST_F(SerialPortTest, SetupRefusesWhatTheLineCannotDo) {
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
        EXPECT_EQ(port->lastError(), pty.slavePath() + ": " + c.error);
        EXPECT_FALSE(port->gone());
    }
}

TEST_F(SerialPortTest, Rs485ModeCarriesOnWhereTheDeviceHasNone) {
    ASSERT_EQ(port->Setup(9600, 1, 8, 1, 1), 1) << port->lastError();
    EXPECT_FALSE(port->rs485Active());
    const Bytes frame = withCrc("01 03 00 00 00 01");
    EXPECT_EQ(port->Send(frame.data(), 8, 0), 8);
    EXPECT_EQ(pty.read(8), frame);
}

TEST_F(SerialPortTest, SilenceBeforeSendScalesWithTheLineUpTo19200) {
    const struct {
        int baud, parity, bits, stop;
        int64_t silenceUs;
    } cases[] = {
        {1200, 0, 8, 1, 29169},                           // 10 bits: 3.5 x 8334 us
        {9600, 1, 8, 1, 4011},                            // 11 bits: 3.5 x 1146 us
        {19200, 1, 8, 1, 2006},  {38400, 1, 8, 1, 1750},  // fixed above 19200
        {230400, 0, 8, 1, 1750},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(port->Setup(c.baud, c.parity, c.bits, c.stop, 0), 1);
        EXPECT_EQ(port->silenceUs(), c.silenceUs) << c.baud;
    }
}

TEST_F(SerialPortTest, DrainThrowsAwayWhatIsPendingAndCopiesWhatFits) {
    ASSERT_EQ(port->Setup(115200, 0, 8, 1, 0), 1);
    pty.write(testbytes::hex("01 02 03 04 05 06 07 08 09 0A"));
    settle();
    uint8_t buffer[5] = {0, 0, 0, 0, 0xEE};
    EXPECT_EQ(port->Drain(buffer, 4, 0), 10);
    EXPECT_EQ(Bytes(buffer, buffer + 5), testbytes::hex("01 02 03 04 EE"));
    EXPECT_EQ(port->Drain(nullptr, 0, 0), 0);
}

TEST_F(SerialPortTest, ReceiveNeverTakesMoreThanTheBuffer) {
    ASSERT_EQ(port->Setup(115200, 0, 8, 1, 0), 1);
    Bytes flood(300);
    for (size_t i = 0; i < flood.size(); ++i) {
        flood[i] = static_cast<uint8_t>(i);
    }
    pty.write(flood);
    settle();
    uint8_t buffer[257];
    buffer[256] = 0xEE;
    int received = -1;
    EXPECT_EQ(port->Receive(buffer, 256, 1000, 50, &received, 0), 256);
    EXPECT_EQ(received, 256);
    EXPECT_EQ(Bytes(buffer, buffer + 256), Bytes(flood.begin(), flood.begin() + 256));
    EXPECT_EQ(buffer[256], 0xEE);
    EXPECT_EQ(port->Drain(nullptr, 0, 0), 44) << "the rest stays for Drain";
}

TEST_F(SerialPortTest, VanishedDeviceEndsEveryCallAtOnceWithTheReason) {
    ASSERT_EQ(port->Setup(9600, 1, 8, 1, 0), 1);
    pty.closeMaster();
    uint8_t buffer[256];
    int received = -1;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(port->Receive(buffer, 256, 5000, 10, &received, 0), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(4))
        << "waited for a device that is gone";
    EXPECT_EQ(received, 0);
    EXPECT_TRUE(port->gone());
    EXPECT_EQ(port->lastError(), pty.slavePath() + ": hang-up (device gone)");
    EXPECT_EQ(port->Drain(buffer, 256, 0), 0) << "Drain must end the caller's drain loop";
    const Bytes frame = withCrc("01 03 00 00 00 01");
    EXPECT_EQ(port->Send(frame.data(), 8, 0), 0);
}

TEST(SerialFactory, NamesMapToDevicesAndFailuresSayWhy) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    SerialFactory factory;
    std::string error;
    EXPECT_FALSE(factory.addMapping("com1", error));
    EXPECT_EQ(error, "port mapping 'com1' is not NAME=PATH (e.g. com1=/dev/ttyUSB0)");
    EXPECT_FALSE(factory.addMapping("com1=ttyUSB0", error));
    EXPECT_EQ(error, "port mapping 'com1=ttyUSB0': the device path must be absolute");
    ASSERT_TRUE(factory.addMapping("com1=" + pty.slavePath(), error));

    EXPECT_EQ(factory.OpenSerial("com2"), nullptr);
    EXPECT_EQ(factory.lastError(),
              "port 'com2' is not mapped to a device (use --port-map com2=PATH or give a device "
              "path)");
    ISerialPort* port = factory.OpenSerial("com1");
    ASSERT_NE(port, nullptr) << factory.lastError();
    EXPECT_NE(dynamic_cast<SerialPort*>(port), nullptr) << "no trace: the port itself, no wrapper";
    EXPECT_EQ(factory.OpenSerial(pty.slavePath().c_str()), nullptr) << "same device by its path";
    EXPECT_EQ(factory.lastError(),
              "port busy: " + pty.slavePath() + " is in use by another program");
    EXPECT_EQ(factory.openCount(), 1U);
    factory.CloseSerial(port);
    EXPECT_EQ(factory.openCount(), 0U);

    port = factory.OpenSerial(pty.slavePath().c_str());
    ASSERT_NE(port, nullptr) << factory.lastError();
    pty.closeMaster();
    uint8_t buffer[8];
    int received = 0;
    EXPECT_EQ(port->Receive(buffer, 8, 1000, 10, &received, 0), 0);
    EXPECT_EQ(factory.lastError(), pty.slavePath() + ": hang-up (device gone)")
        << "the factory keeps the port's failure for the user";
}

TEST(SerialFactory, TracedPortsReportTheirFrames) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    refhost::FrameTrace trace(out);
    SerialFactory factory;
    factory.setTrace(&trace);
    ISerialPort* port = factory.OpenSerial(pty.slavePath().c_str());
    ASSERT_NE(port, nullptr) << factory.lastError();
    EXPECT_NE(dynamic_cast<refhost::TraceSerialPort*>(port), nullptr);
    ASSERT_EQ(port->Setup(9600, 1, 8, 1, 1), 1);
    const Bytes frame = withCrc("01 03 00 00 00 01");
    EXPECT_EQ(port->Send(frame.data(), 8, 0), 8);
    EXPECT_EQ(pty.read(8), frame);
    factory.CloseSerial(port);

    std::rewind(out);
    std::string text;
    char buf[256];
    while (std::fgets(buf, sizeof buf, out) != nullptr) {
        text += buf;
    }
    std::fclose(out);
    EXPECT_NE(text.find("SETUP " + pty.slavePath() +
                        " 9600 baud, parity even, 8 data bits, 1 stop bits, RS-485"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("TX   01 03 00 00 00 01 84 0A  | node 1, fn 3"), std::string::npos) << text;
}
