#include <qarn/refhost/SerialPort.h>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include <qarn/rtu/Frame.h>
#include <qarn/rtu/LineSettings.h>
#include "MonoClock.h"

namespace refhost {

namespace {

// Longest Drain per call and longest wait for a quiet line before Send gives up waiting.
constexpr int MaxDrainBytes = 65536;
constexpr int64_t MaxQuietWaitUs = 1000000;
// How long one write may stall (device flow control) before the port counts as failed.
constexpr int64_t WriteStallUs = 2000000;

std::string osText(int err) {
    return std::strerror(err);
}

}  // namespace

std::unique_ptr<SerialPort> SerialPort::open(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        error = err == EBUSY ? "port busy: " + path + " is in use by another program"
                             : path + ": " + osText(err);
        return nullptr;
    }
    if (!isatty(fd)) {
        ::close(fd);
        error = path + ": not a serial device";
        return nullptr;
    }
    // TIOCEXCL keeps out later opens by ordinary users only; the lock keeps out root as well.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        error = err == EWOULDBLOCK ? "port busy: " + path + " is in use by another program"
                                   : path + ": " + osText(err);
        return nullptr;
    }
    if (ioctl(fd, TIOCEXCL) != 0) {
        const int err = errno;
        ::close(fd);
        error = path + ": " + osText(err);
        return nullptr;
    }
    // Raw at once, so that nothing the device sends before Setup is cooked or echoed.
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        const int err = errno;
        ioctl(fd, TIOCNXCL);
        ::close(fd);
        error = path + ": " + osText(err);
        return nullptr;
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;  // with O_NONBLOCK: EAGAIN when empty, 0 only on hang-up
    tio.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &tio);
    return std::unique_ptr<SerialPort>(new SerialPort(fd, path));
}

SerialPort::SerialPort(int fd, std::string path)
    : fd_(fd),
      path_(std::move(path)),
      charTimeUs_(rtu::characterTimeUs(9600, 8, rtu::Parity::None, 1)),
      silenceUs_(rtu::frameSilenceUs(9600, charTimeUs_)) {}

SerialPort::~SerialPort() {
    if (rs485Active_) {
        applyRs485(false);
    }
    ioctl(fd_, TIOCNXCL);
    ::close(fd_);
}

void* SerialPort::ConvertTo(const char* name) {
    return name != nullptr && std::strcmp(name, "ISerialPort") == 0 ? this : nullptr;
}

const char* SerialPort::GetImpName() const {
    return "RefHostSerialPort";
}

int SerialPort::GetImpVersion() const {
    return 100;
}

void SerialPort::fail(const std::string& what) {
    lastError_ = path_ + ": " + what;
    if (sink_ != nullptr) {
        *sink_ = lastError_;
    }
}

void SerialPort::fail(const std::string& what, int err) {
    fail(what.empty() ? osText(err) : what + ": " + osText(err));
}

bool SerialPort::lineSettings(int baud, int parity, int dataBits, int stopBits, termios& tio,
                              std::string& error) {
    const speed_t speed = rtu::termiosSpeed(baud);
    if (speed == B0) {
        error = "unsupported baud rate " + std::to_string(baud) + " (standard rates from " +
                std::to_string(rtu::LowestStandardBaud) + " to " +
                std::to_string(rtu::HighestStandardBaud) + ")";
        return false;
    }
    if (parity < 0 || parity > 3) {
        error = "unsupported parity code " + std::to_string(parity);
        return false;
    }
    if (dataBits != 7 && dataBits != 8) {
        error = "unsupported data bits " + std::to_string(dataBits) + " (7 or 8)";
        return false;
    }
    if (stopBits != 1 && stopBits != 2) {
        error = "unsupported stop bits " + std::to_string(stopBits) + " (1 or 2)";
        return false;
    }
    cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
    tio.c_cflag |= CLOCAL | CREAD | (dataBits == 7 ? CS7 : CS8);
    if (stopBits == 2) {
        tio.c_cflag |= CSTOPB;
    }
    switch (static_cast<rtu::Parity>(parity)) {
        case rtu::Parity::Even:
            tio.c_cflag |= PARENB;
            break;
        case rtu::Parity::Odd:
            tio.c_cflag |= PARENB | PARODD;
            break;
        case rtu::Parity::Mark:
            // Stick parity: with PARODD the parity bit is always 1.
            tio.c_cflag |= PARENB | PARODD | CMSPAR;
            break;
        case rtu::Parity::None:
            break;
    }
    tio.c_cc[VMIN] = 1;  // with O_NONBLOCK: EAGAIN when empty, 0 only on hang-up
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    return true;
}

int SerialPort::Setup(int baud, int parity, int dataBits, int stopBits, int mode) {
    if (gone_) {
        return 0;
    }
    termios tio{};
    if (tcgetattr(fd_, &tio) != 0) {
        fail("", errno);
        return 0;
    }
    std::string error;
    if (!lineSettings(baud, parity, dataBits, stopBits, tio, error)) {
        fail(error);
        return 0;
    }
    if (mode < 0 || mode > 2) {
        fail("unsupported line mode " + std::to_string(mode));
        return 0;
    }
    if (tcsetattr(fd_, TCSANOW, &tio) != 0) {
        // The C library reports data bits or parity that the device did not take. A pty has no
        // framing at all and carries the bytes regardless; any real device must take them.
        if (errno != EINVAL || !isPty()) {
            fail(errno == EINVAL ? "the device cannot do these data bits or this parity"
                                 : "line settings refused: " + osText(errno));
            return 0;
        }
    }
    // Ptys and adapters that switch direction by themselves have no RS-485 mode: carry on.
    rs485Active_ = mode == 1 && applyRs485(true);
    if (mode != 1) {
        applyRs485(false);
    }
    tcflush(fd_, TCIOFLUSH);

    charTimeUs_ = rtu::characterTimeUs(baud, dataBits, static_cast<rtu::Parity>(parity), stopBits);
    silenceUs_ = rtu::frameSilenceUs(baud, charTimeUs_);
    return 1;
}

bool SerialPort::isPty() const {
    struct stat st {};
    // Unix98 pty slaves have the majors 136 to 143.
    return fstat(fd_, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 &&
           major(st.st_rdev) <= 143;
}

bool SerialPort::applyRs485(bool enable) {
    serial_rs485 rs{};
    if (ioctl(fd_, TIOCGRS485, &rs) != 0) {
        return false;
    }
    const bool enabled = (rs.flags & SER_RS485_ENABLED) != 0;
    if (!enable && !enabled) {
        return false;
    }
    if (enable) {
        rs.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
        rs.flags &= ~static_cast<__u32>(SER_RS485_RTS_AFTER_SEND);
        rs.delay_rts_before_send = 0;
        rs.delay_rts_after_send = 0;
    } else {
        rs.flags &= ~static_cast<__u32>(SER_RS485_ENABLED);
    }
    return ioctl(fd_, TIOCSRS485, &rs) == 0 && enable;
}

SerialPort::Wait SerialPort::waitReadable(int64_t timeoutUs) {
    const int64_t deadline = monoNowUs() + std::max<int64_t>(timeoutUs, 0);
    for (;;) {
        const int64_t left = std::max<int64_t>(deadline - monoNowUs(), 0);
        timespec ts{};
        ts.tv_sec = static_cast<time_t>(left / 1000000);
        ts.tv_nsec = static_cast<long>((left % 1000000) * 1000);
        pollfd pfd{fd_, POLLIN, 0};
        const int rc = ppoll(&pfd, 1, &ts, nullptr);
        if (rc > 0) {
            if ((pfd.revents & POLLNVAL) != 0) {
                fail("descriptor no longer valid");
                gone_ = true;
                return Wait::Failed;
            }
            // Data, an error or a hang-up: the read tells which.
            return Wait::Ready;
        }
        if (rc == 0) {
            return Wait::Timeout;
        }
        if (errno != EINTR) {
            fail("poll", errno);
            gone_ = true;
            return Wait::Failed;
        }
    }
}

int SerialPort::readPending(uint8_t* buffer, int size) {
    int got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd_, buffer + got, static_cast<size_t>(size - got));
        if (n > 0) {
            got += static_cast<int>(n);
            continue;
        }
        if (n == 0) {
            fail("hang-up (device gone)");
            gone_ = true;
            break;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN) {
            // EIO, ENODEV, ENXIO: the adapter was unplugged or the other end of a pty closed.
            fail("", errno);
            gone_ = true;
        }
        break;
    }
    if (got > 0) {
        lastTrafficUs_ = monoNowUs();
    }
    return got;
}

int SerialPort::Drain(uint8_t* buffer, int size, int) {
    if (gone_) {
        return 0;
    }
    uint8_t scratch[256];
    int total = 0;
    while (total < MaxDrainBytes) {
        const int n = readPending(scratch, static_cast<int>(sizeof scratch));
        if (n <= 0) {
            break;
        }
        if (buffer != nullptr && total < size) {
            std::memcpy(buffer + total, scratch, static_cast<size_t>(std::min(n, size - total)));
        }
        total += n;
        if (gone_) {
            break;
        }
    }
    return gone_ ? 0 : total;
}

int SerialPort::Send(const uint8_t* frame, int length, int) {
    if (gone_ || frame == nullptr || length <= 0) {
        return 0;
    }
    // A master keeps the line quiet for 3.5 characters before a frame. Bytes that come in while
    // it waits are stray (the request is not out yet): they are dropped and the wait starts over.
    const int64_t giveUp = monoNowUs() + MaxQuietWaitUs;
    for (;;) {
        const int64_t quietAt = lastTrafficUs_ + silenceUs_;
        const int64_t now = monoNowUs();
        if (now >= quietAt || now >= giveUp) {
            break;
        }
        const Wait w = waitReadable(quietAt - now);
        if (w == Wait::Failed) {
            return 0;
        }
        if (w == Wait::Ready) {
            uint8_t scratch[256];
            readPending(scratch, static_cast<int>(sizeof scratch));
            if (gone_) {
                return 0;
            }
        }
    }

    int sent = 0;
    int64_t stallDeadline = monoNowUs() + WriteStallUs;
    while (sent < length) {
        const ssize_t n = ::write(fd_, frame + sent, static_cast<size_t>(length - sent));
        if (n > 0) {
            sent += static_cast<int>(n);
            stallDeadline = monoNowUs() + WriteStallUs;
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            fail("", errno);
            gone_ = true;
            return 0;
        }
        const int64_t left = stallDeadline - monoNowUs();
        if (left <= 0) {
            fail("transmitter stalled");
            return 0;
        }
        pollfd pfd{fd_, POLLOUT, 0};
        poll(&pfd, 1, static_cast<int>((left + 999) / 1000));
    }
    while (tcdrain(fd_) != 0) {
        if (errno != EINTR) {
            fail("", errno);
            gone_ = true;
            return 0;
        }
    }
    lastTrafficUs_ = monoNowUs();
    if (static_cast<size_t>(length) <= sizeof lastSent_) {
        std::memcpy(lastSent_, frame, static_cast<size_t>(length));
        lastSentLength_ = static_cast<size_t>(length);
    } else {
        lastSentLength_ = 0;
    }
    return length;
}

int SerialPort::Receive(uint8_t* buffer, int size, int timeoutMs, int interCharMs, int* received,
                        int) {
    if (received != nullptr) {
        *received = 0;
    }
    if (gone_ || buffer == nullptr || size <= 0) {
        return 0;
    }
    // Without a usable gap the standard one of 3.5 characters ends the frame.
    const int64_t gapUs = interCharMs > 0 ? static_cast<int64_t>(interCharMs) * 1000
                                          : rtu::threeAndHalfCharactersUs(charTimeUs_);
    const int64_t deadline = monoNowUs() + std::max(timeoutMs, 0) * int64_t{1000};

    int count = 0;
    while (count == 0) {
        const int64_t left = deadline - monoNowUs();
        if (left <= 0 || waitReadable(left) != Wait::Ready) {
            return 0;
        }
        count = readPending(buffer, size);
        if (gone_) {
            return 0;
        }
    }
    while (count < size &&
           !rtu::isCompleteAnswer(lastSent_, lastSentLength_, buffer, static_cast<size_t>(count))) {
        const Wait w = waitReadable(gapUs);
        if (w != Wait::Ready) {
            break;
        }
        count += readPending(buffer + count, size - count);
        if (gone_) {
            // What came before the failure is a frame like any other; the next call reports it.
            break;
        }
    }
    if (received != nullptr) {
        *received = count;
    }
    return count;
}

}  // namespace refhost
