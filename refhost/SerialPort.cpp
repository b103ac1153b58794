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

#include <qarn/refhost/FrameSink.h>
#include <qarn/rtu/AnswerFit.h>
#include <qarn/rtu/Crc.h>
#include <qarn/rtu/Frame.h>
#include <qarn/rtu/FunctionCodes.h>
#include <qarn/rtu/LineSettings.h>
#include "MonoClock.h"

namespace refhost {

namespace {

// Longest Drain per call and longest wait for a quiet line before Send gives up waiting.
constexpr int MaxDrainBytes = 65536;
constexpr int64_t MaxQuietWaitUs = 1000000;
// How long one write may stall (device flow control) before the port counts as failed.
constexpr int64_t WriteStallUs = 2000000;
// A line that keeps chattering holds the late-answer guard for at most this many guard times.
constexpr int64_t GuardGiveUpFactor = 3;

std::string osText(int err) {
    return std::strerror(err);
}

bool isPtyDevice(dev_t dev) {
    // Unix98 pty slaves have the majors 136 to 143.
    return major(dev) >= 136 && major(dev) <= 143;
}

// Opens the device as SerialPort::open describes; -1 with `error` (the path, then the reason)
// and `reason` (the reason alone).
int openDevice(const std::string& path, std::string& error, std::string& reason) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const auto refuse = [&](int err) {
        reason = err == EBUSY || err == EWOULDBLOCK ? "port busy" : osText(err);
        error = reason == "port busy" ? "port busy: " + path + " is in use by another program"
                                      : path + ": " + reason;
        if (fd >= 0) {
            ::close(fd);
        }
        return -1;
    };
    if (fd < 0) {
        return refuse(errno);
    }
    if (!isatty(fd)) {
        ::close(fd);
        reason = "not a serial device";
        error = path + ": " + reason;
        return -1;
    }
    // TIOCEXCL keeps out later opens by ordinary users only; the lock keeps out root as well.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
        return refuse(errno);
    }
    // Raw at once, so that nothing the device sends before Setup is cooked or echoed.
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        const int err = errno;
        ioctl(fd, TIOCNXCL);
        return refuse(err);
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;  // with O_NONBLOCK: EAGAIN when empty, 0 only on hang-up
    tio.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &tio);
    return fd;
}

// Only reads and writing several registers give the echo away: their answers differ from the
// requests.
bool tellsEchoApart(const uint8_t* request, size_t length) {
    const rtu::FrameView view = rtu::unwrap(request, length);
    if (view.length < rtu::MinFrameLength) {
        return false;
    }
    const uint8_t fn = view.data[1];
    return (fn >= rtu::ReadCoils && fn <= rtu::ReadInputRegisters) ||
           fn == rtu::WriteMultipleRegisters;
}

bool crcGood(const uint8_t* frame, size_t length) {
    const rtu::FrameView view = rtu::unwrap(frame, length);
    return view.length >= rtu::MinFrameLength && rtu::crcOk(view.data, view.length);
}

}  // namespace

std::unique_ptr<SerialPort> SerialPort::open(const std::string& path, std::string& error) {
    std::string reason;
    const int fd = openDevice(path, error, reason);
    if (fd < 0) {
        return nullptr;
    }
    // A pty's number goes to the next pty at once: only a name made for it (a link) leads back to
    // the same line after it went.
    struct stat link {};
    struct stat dev {};
    const bool reopenable = (lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) ||
                            fstat(fd, &dev) != 0 || !isPtyDevice(dev.st_rdev);
    return std::unique_ptr<SerialPort>(new SerialPort(fd, path, reopenable));
}

SerialPort::SerialPort(int fd, std::string path, bool reopenable)
    : fd_(fd),
      path_(std::move(path)),
      reopenable_(reopenable),
      charTimeUs_(rtu::characterTimeUs(9600, 8, rtu::Parity::None, 1)),
      silenceUs_(rtu::frameSilenceUs(9600, charTimeUs_)) {}

SerialPort::~SerialPort() {
    if (fd_ < 0) {
        return;
    }
    if (rs485Active_) {
        applyRs485(false);
    }
    if (lowLatencySet_) {
        serial_struct ss{};
        if (ioctl(fd_, TIOCGSERIAL, &ss) == 0) {
            ss.flags &= ~static_cast<int>(ASYNC_LOW_LATENCY);
            ioctl(fd_, TIOCSSERIAL, &ss);
        }
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

void SerialPort::note(const std::string& text) const {
    if (trace_ != nullptr) {
        trace_->note(text);
    }
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

void SerialPort::lose(const std::string& what, const std::string& reason) {
    fail(what);
    report_->gone = true;
    report_->osReason = reason;
    ::close(fd_);  // the lock and the exclusive mode go with the descriptor
    fd_ = -1;
    rs485Active_ = false;
    lowLatencySet_ = false;
    nextReopenUs_ = monoNowUs() + ReopenBackoffMs * int64_t{1000};
    note("GONE " + path_ + ": " + reason);
}

bool SerialPort::reopen(bool wait) {
    if (!gone()) {
        return true;
    }
    if (monoNowUs() < nextReopenUs_) {
        // Sleeping out the back-off keeps a poll on a gone device from spinning.
        if (!wait || !pause(nextReopenUs_)) {
            return false;
        }
    }
    nextReopenUs_ = monoNowUs() + ReopenBackoffMs * int64_t{1000};
    if (!reopenable_) {
        return false;
    }
    std::string error;
    std::string reason;
    fd_ = openDevice(path_, error, reason);
    if (fd_ >= 0 && setUp_ && !configure(baud_, parity_, dataBits_, stopBits_, mode_)) {
        reason = lastError_.substr(std::min(lastError_.size(), path_.size() + 2));
        error = lastError_;
        ::close(fd_);
        fd_ = -1;
    }
    if (fd_ < 0) {
        lastError_ = error;
        if (sink_ != nullptr) {
            *sink_ = lastError_;
        }
        report_->gone = true;
        report_->osReason = reason;
        note("REOPEN " + path_ + ": " + reason + " (next try in " +
             std::to_string(ReopenBackoffMs) + " ms)");
        return false;
    }
    lastError_.clear();
    report_->gone = false;
    rxLength_ = 0;
    echo_ = echoSetting_;
    lastTrafficUs_ = monoNowUs();
    note("REOPEN " + path_ + ": the device is back" + (setUp_ ? ", line set up again" : ""));
    return true;
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
    if (gone()) {
        // Kept for the reopen when they are valid; the line itself is not ready.
        termios tio{};
        std::string error;
        if (lineSettings(baud, parity, dataBits, stopBits, tio, error) && mode >= 0 && mode <= 2) {
            setUp_ = true;
            baud_ = baud, parity_ = parity, dataBits_ = dataBits, stopBits_ = stopBits;
            mode_ = mode;
        }
        return 0;
    }
    if (!configure(baud, parity, dataBits, stopBits, mode)) {
        return 0;
    }
    setUp_ = true;
    baud_ = baud, parity_ = parity, dataBits_ = dataBits, stopBits_ = stopBits, mode_ = mode;
    return 1;
}

bool SerialPort::configure(int baud, int parity, int dataBits, int stopBits, int mode) {
    termios tio{};
    if (tcgetattr(fd_, &tio) != 0) {
        fail("", errno);
        return false;
    }
    std::string error;
    if (!lineSettings(baud, parity, dataBits, stopBits, tio, error)) {
        fail(error);
        return false;
    }
    if (mode < 0 || mode > 2) {
        fail("unsupported line mode " + std::to_string(mode));
        return false;
    }
    if (tcsetattr(fd_, TCSANOW, &tio) != 0) {
        // The C library reports data bits or parity that the device did not take. A pty has no
        // framing at all and carries the bytes regardless; any real device must take them.
        if (errno != EINVAL || !isPty()) {
            fail(errno == EINVAL ? "the device cannot do these data bits or this parity"
                                 : "line settings refused: " + osText(errno));
            return false;
        }
    }
    // Ptys and adapters that switch direction by themselves have no RS-485 mode: carry on.
    rs485Active_ = mode == 1 && applyRs485(true);
    if (mode != 1) {
        applyRs485(false);
    }
    applyLowLatency();
    tcflush(fd_, TCIOFLUSH);

    charTimeUs_ = rtu::characterTimeUs(baud, dataBits, static_cast<rtu::Parity>(parity), stopBits);
    silenceUs_ = rtu::frameSilenceUs(baud, charTimeUs_);
    return true;
}

void SerialPort::applyLowLatency() {
    // USB adapters hold received bytes up to their latency timer (often 16 ms) and then pass
    // them on in one burst; low latency makes the driver pass them on at once.
    serial_struct ss{};
    int err = 0;
    if (ioctl(fd_, TIOCGSERIAL, &ss) != 0) {
        err = errno;
    } else if ((ss.flags & ASYNC_LOW_LATENCY) == 0) {
        ss.flags |= ASYNC_LOW_LATENCY;
        if (ioctl(fd_, TIOCSSERIAL, &ss) != 0) {
            err = errno;
        } else {
            lowLatencySet_ = true;
        }
    }
    if (err != 0 && !lowLatencyNoted_) {
        // Not an error: receiving waits for whole answers anyway.
        lowLatencyNoted_ = true;
        note("LATENCY " + path_ + ": no low-latency mode (" + osText(err) +
             "); answers may come in bursts");
    }
}

bool SerialPort::isPty() const {
    struct stat st {};
    return fstat(fd_, &st) == 0 && S_ISCHR(st.st_mode) && isPtyDevice(st.st_rdev);
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

bool SerialPort::cancelRequested() const {
    pollfd pfd{cancelFd_, POLLIN, 0};
    return cancelFd_ >= 0 && poll(&pfd, 1, 0) > 0 && (pfd.revents & (POLLIN | POLLHUP)) != 0;
}

bool SerialPort::pause(int64_t deadlineUs) {
    if (cancelFd_ < 0) {
        sleepUntil(deadlineUs);
        return true;
    }
    for (int64_t left = deadlineUs - monoNowUs(); left > 0; left = deadlineUs - monoNowUs()) {
        pollfd pfd{cancelFd_, POLLIN, 0};
        timespec ts{static_cast<time_t>(left / 1000000), static_cast<long>(left % 1000000) * 1000};
        if (ppoll(&pfd, 1, &ts, nullptr) > 0) {
            report_->cancelled = true;
            return false;
        }
    }
    return true;
}

SerialPort::Wait SerialPort::waitReadable(int64_t nowUs, int64_t timeoutUs) {
    // The caller has just read the clock; it is read again only after an interruption.
    const int64_t deadline = nowUs + std::max<int64_t>(timeoutUs, 0);
    int64_t left = deadline - nowUs;
    for (;;) {
        timespec ts{};
        ts.tv_sec = static_cast<time_t>(left / 1000000);
        ts.tv_nsec = static_cast<long>((left % 1000000) * 1000);
        pollfd pfd[2] = {{fd_, POLLIN, 0}, {cancelFd_, POLLIN, 0}};
        const int rc = ppoll(pfd, cancelFd_ >= 0 ? 2 : 1, &ts, nullptr);
        if (rc > 0) {
            if ((pfd[1].revents & (POLLIN | POLLHUP)) != 0) {
                report_->cancelled = true;
                return Wait::Cancelled;
            }
            if ((pfd[0].revents & POLLNVAL) != 0) {
                lose("descriptor no longer valid", "descriptor no longer valid");
                return Wait::Failed;
            }
            // Data, an error or a hang-up: the read tells which.
            return Wait::Ready;
        }
        if (rc == 0) {
            return Wait::Timeout;
        }
        if (errno != EINTR) {
            const int err = errno;
            lose("poll: " + osText(err), osText(err));
            return Wait::Failed;
        }
        left = std::max<int64_t>(deadline - monoNowUs(), 0);
    }
}

int SerialPort::readPending(uint8_t* buffer, int size) {
    int got = 0;
    while (got < size && !gone()) {
        const int want = size - got;
        const ssize_t n = ::read(fd_, buffer + got, static_cast<size_t>(want));
        if (n > 0) {
            got += static_cast<int>(n);
            if (n < want) {
                break;  // a short read: nothing more is pending now, no need to ask again
            }
            continue;
        }
        if (n == 0) {
            lose("hang-up (device gone)", "hang-up");
            break;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN) {
            // EIO, ENODEV, ENXIO: the adapter was unplugged or the other end of a pty closed.
            const int err = errno;
            lose(osText(err), osText(err));
        }
        break;
    }
    if (got > 0) {
        lastTrafficUs_ = monoNowUs();
        if (!inReceive_) {
            noteStray(got, lastTrafficUs_);
        }
    }
    return got;
}

int SerialPort::Drain(uint8_t* buffer, int size, int) {
    if (!reopen(false)) {
        return 0;
    }
    int total = 0;
    const auto keep = [&](const uint8_t* bytes, int n) {
        if (buffer != nullptr && total < size) {
            std::memcpy(buffer + total, bytes, static_cast<size_t>(std::min(n, size - total)));
        }
        total += n;
    };
    keep(rx_.data(), static_cast<int>(rxLength_));
    noteStray(static_cast<int>(rxLength_), receiveEndUs_);
    rxLength_ = 0;
    uint8_t scratch[256];
    while (total < MaxDrainBytes && !gone()) {
        const int n = readPending(scratch, static_cast<int>(sizeof scratch));
        if (n <= 0) {
            break;
        }
        keep(scratch, n);
    }
    report_->lateBytes += total;
    return gone() ? 0 : total;
}

bool SerialPort::awaitLateGuard() {
    const int64_t guardUs = guardMs_ >= 0 ? guardMs_ * int64_t{1000} : guardUs_;
    if (guardUs <= 0) {
        return true;
    }
    // The quiet time runs from the end of the last wait for an answer: a poll's pause counts.
    const int64_t start = monoNowUs();
    const int64_t giveUp = start + GuardGiveUpFactor * guardUs;
    int64_t quietSince = std::max(lastTrafficUs_, receiveEndUs_);
    int dropped = 0;
    bool gaveUp = false;
    for (;;) {
        const int64_t now = monoNowUs();
        const int64_t quietAt = quietSince + guardUs;
        if (now >= quietAt) {
            break;
        }
        if (now >= giveUp) {
            gaveUp = true;
            break;
        }
        const Wait w = waitReadable(now, std::min(quietAt, giveUp) - now);
        if (w == Wait::Cancelled || w == Wait::Failed) {
            return false;
        }
        if (w == Wait::Ready) {
            uint8_t scratch[256];
            dropped += readPending(scratch, static_cast<int>(sizeof scratch));
            if (gone()) {
                return false;
            }
            quietSince = lastTrafficUs_;
        }
    }
    report_->lateBytes += dropped;
    const int64_t waitedMs = (monoNowUs() - start) / 1000;
    if (waitedMs > 0 || dropped > 0) {
        note("GUARD waited " + std::to_string(waitedMs) + " ms for a quiet line" +
             (dropped > 0 ? ", " + std::to_string(dropped) + " late bytes thrown away" : "") +
             (gaveUp ? "; the line never fell quiet, sending anyway" : ""));
    }
    return true;
}

bool SerialPort::awaitQuietLine() {
    // A master keeps the line quiet for 3.5 characters before a frame. Bytes that come in while
    // it waits are stray (the request is not out yet): they are dropped and the wait starts over.
    int64_t giveUp = 0;
    for (;;) {
        const int64_t quietAt = lastTrafficUs_ + silenceUs_;
        const int64_t now = monoNowUs();
        if (giveUp == 0) {
            giveUp = now + MaxQuietWaitUs;
        }
        if (now >= quietAt || now >= giveUp) {
            return true;
        }
        const Wait w = waitReadable(now, quietAt - now);
        if (w == Wait::Cancelled || w == Wait::Failed) {
            return false;
        }
        if (w == Wait::Ready) {
            uint8_t scratch[256];
            report_->lateBytes += readPending(scratch, static_cast<int>(sizeof scratch));
            if (gone()) {
                return false;
            }
        }
    }
}

int SerialPort::Send(const uint8_t* frame, int length, int) {
    if (frame == nullptr || length <= 0 || !reopen(true)) {
        return 0;
    }
    // Bytes held back from the last answer belong to no request still to come.
    report_->lateBytes += static_cast<int>(rxLength_);
    noteStray(static_cast<int>(rxLength_), receiveEndUs_);
    rxLength_ = 0;
    if ((guardArmed_ && !awaitLateGuard()) || !awaitQuietLine()) {
        return 0;
    }
    lateBytes_ = strayBytes_;
    lateAfterUs_ = strayBytes_ > 0 && sendEndUs_ > 0 ? strayFirstUs_ - sendEndUs_ : -1;
    strayBytes_ = 0;
    sendStartUs_ = monoNowUs();

    int sent = 0;
    int64_t stallDeadline = 0;  // set when the transmitter first makes us wait
    while (sent < length) {
        const ssize_t n = ::write(fd_, frame + sent, static_cast<size_t>(length - sent));
        if (n > 0) {
            sent += static_cast<int>(n);
            stallDeadline = 0;
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            const int err = errno;
            lose(osText(err), osText(err));
            return 0;
        }
        const int64_t now = monoNowUs();
        if (stallDeadline == 0) {
            stallDeadline = now + WriteStallUs;
        }
        const int64_t left = stallDeadline - now;
        if (left <= 0) {
            fail("transmitter stalled");
            return 0;
        }
        pollfd pfd[2] = {{fd_, POLLOUT, 0}, {cancelFd_, POLLIN, 0}};
        if (poll(pfd, cancelFd_ >= 0 ? 2 : 1, static_cast<int>((left + 999) / 1000)) > 0 &&
            (pfd[1].revents & (POLLIN | POLLHUP)) != 0) {
            report_->cancelled = true;
            return 0;
        }
    }
    while (tcdrain(fd_) != 0) {
        if (errno != EINTR) {
            const int err = errno;
            lose(osText(err), osText(err));
            return 0;
        }
        if (cancelRequested()) {
            report_->cancelled = true;  // the bytes are on their way; the wait is not
            break;
        }
    }
    lastTrafficUs_ = monoNowUs();
    sendEndUs_ = lastTrafficUs_;
    if (static_cast<size_t>(length) <= sizeof lastSent_) {
        std::memcpy(lastSent_, frame, static_cast<size_t>(length));
        lastSentLength_ = static_cast<size_t>(length);
        expectation_ = rtu::expect(lastSent_, lastSentLength_);
    } else {
        lastSentLength_ = 0;
        expectation_ = rtu::Expectation{};
    }
    return length;
}

SerialPort::Judgement SerialPort::judge(size_t size) {
    const uint8_t* bytes = rx_.data();
    const size_t count = rxLength_;
    const uint8_t* request = lastSent_;
    const size_t requestLength = lastSentLength_;
    size_t echo = 0;
    bool startsWithRequest = false;
    if (requestLength > 0 && echo_ != EchoMode::Off && count > 0 &&
        std::memcmp(bytes, request, std::min(count, requestLength)) == 0) {
        if (count < requestLength) {
            return {Step::WaitKnown, 0, 0, Outcome::Incomplete};  // the echo, or a like answer
        }
        startsWithRequest = true;
        if (echo_ == EchoMode::On) {
            echo = requestLength;
        } else if (rtu::echoPassesAsAnswer(request, requestLength)) {
            // Echo or answer: the bytes can't tell, so neither may pass.
            return {Step::Done, requestLength, 0, Outcome::EchoUnknown};
        } else if (tellsEchoApart(request, requestLength)) {
            echo_ = EchoMode::On;
            reception_.echoDecided = true;
            echo = requestLength;
        }
    }
    const uint8_t* answer = bytes + echo;
    const size_t have = count - echo;
    if (have == 0) {
        return {Step::WaitFirst, echo, 0, Outcome::Silent};
    }
    if (requestLength == 0) {
        // Nothing to go by: the character gap ends the frame.
        return have >= size ? Judgement{Step::Done, echo, size, Outcome::Answer}
                            : Judgement{Step::WaitGap, echo, 0, Outcome::Answer};
    }
    const rtu::AnswerShape shape = rtu::fitAnswer(expectation_, answer, have);
    switch (shape.fit) {
        case rtu::AnswerFit::Complete:
            if (echo_ == EchoMode::Auto && !startsWithRequest) {
                // The answer came first: this line does not echo.
                echo_ = EchoMode::Off;
                reception_.echoDecided = true;
            }
            return {Step::Done, echo, shape.length, Outcome::Answer};
        case rtu::AnswerFit::Damaged:
            return {Step::Done, echo, shape.length, Outcome::Damaged};
        case rtu::AnswerFit::Partial:
            return have >= size ? Judgement{Step::Done, echo, size, Outcome::Incomplete}
                                : Judgement{Step::WaitKnown, echo, 0, Outcome::Incomplete};
        case rtu::AnswerFit::Foreign:
        case rtu::AnswerFit::Unknown:
            break;
    }
    return have >= size ? Judgement{Step::Done, echo, size, Outcome::Unexpected}
                        : Judgement{Step::WaitGap, echo, 0, Outcome::Unexpected};
}

SerialPort::Judgement SerialPort::finish(const Judgement& last) {
    // The wait ended (time-out, character gap, failure) before the bytes made up an answer.
    const size_t count = rxLength_;
    if (count == 0) {
        return {Step::Done, 0, 0, gone() ? Outcome::Gone : Outcome::Silent};
    }
    if (last.step == Step::WaitFirst) {
        return {Step::Done, count, 0, Outcome::EchoOnly};  // nothing after the echo
    }
    const uint8_t* frame = rx_.data() + last.echo;
    const size_t length = count - last.echo;
    if (last.step == Step::WaitKnown) {
        return {Step::Done, last.echo, length, Outcome::Incomplete};
    }
    // Ended by the gap, its length unknown: the frame goes up as it came, for the caller to judge.
    if (!crcGood(frame, length)) {
        return {Step::Done, last.echo, length, Outcome::Damaged};
    }
    if (lastSentLength_ > 0 &&
        rtu::fitAnswer(expectation_, frame, length).fit == rtu::AnswerFit::Foreign) {
        return {Step::Done, last.echo, length, Outcome::Foreign};
    }
    return {Step::Done, last.echo, length, Outcome::Unexpected};
}

void SerialPort::settleGuard(Outcome outcome, int timeoutMs) {
    if (lastSentLength_ == 0 || outcome == Outcome::Gone) {
        return;
    }
    const bool clean = outcome == Outcome::Answer && rxLength_ == 0;
    if (!clean) {
        // Whatever is still on its way must not meet the next request.
        guardArmed_ = true;
        guardSticky_ = true;
        guardUs_ = std::max(timeoutMs, 0) * int64_t{1000};
    } else if (guardSticky_) {
        // A slave that queued the repeat may still answer it: once more.
        guardSticky_ = false;
    } else {
        guardArmed_ = false;
    }
}

void SerialPort::count(Outcome outcome) {
    LineReport& r = *report_;
    switch (outcome) {
        case Outcome::Silent:
            ++r.silent;
            break;
        case Outcome::Incomplete:
            ++r.incomplete;
            break;
        case Outcome::Damaged:
            ++r.crcErrors;
            break;
        case Outcome::EchoOnly:
            ++r.echoOnly;
            break;
        case Outcome::EchoUnknown:
            r.echoUndecided = true;
            break;
        case Outcome::Foreign:
            ++r.foreign;
            break;
        case Outcome::Answer:
        case Outcome::Unexpected:
        case Outcome::Cancelled:
        case Outcome::Gone:
            break;
    }
}

int SerialPort::Receive(uint8_t* buffer, int size, int timeoutMs, int interCharMs, int* received,
                        int) {
    if (received != nullptr) {
        *received = 0;
    }
    reception_ = Reception{};
    if (buffer == nullptr || size <= 0) {
        return 0;
    }
    if (gone()) {
        reception_.outcome = Outcome::Gone;
        return 0;
    }
    ++report_->attempts;
    report_->lastTimeoutMs = timeoutMs;
    inReceive_ = true;
    chunkCount_ = 0;
    if (rxLength_ > 0) {
        chunks_[chunkCount_++] = {monoNowUs(), rxLength_};
    }
    // Without a usable gap the standard one of 3.5 characters ends the frame.
    const int64_t gapUs = interCharMs > 0 ? static_cast<int64_t>(interCharMs) * 1000
                                          : rtu::threeAndHalfCharactersUs(charTimeUs_);
    const int64_t deadline = monoNowUs() + std::max(timeoutMs, 0) * int64_t{1000};
    const size_t limit = static_cast<size_t>(size);

    Judgement j = judge(limit);
    while (j.step != Step::Done) {
        const int64_t now = monoNowUs();
        int64_t waitUs = gapUs;
        if (j.step == Step::WaitFirst) {
            waitUs = deadline - now;
        } else if (j.step == Step::WaitKnown) {
            // The rest of an answer of known length: up to the time-out, and never less than the
            // gap that would end it otherwise.
            waitUs = std::max(deadline - now, gapUs);
        }
        const Wait w = waitUs > 0 ? waitReadable(now, waitUs) : Wait::Timeout;
        if (w == Wait::Cancelled) {
            j = {Step::Done, 0, 0, Outcome::Cancelled};
            rxLength_ = 0;
            break;
        }
        if (w == Wait::Ready) {
            const int got =
                readPending(rx_.data() + rxLength_, static_cast<int>(rx_.size() - rxLength_));
            rxLength_ += static_cast<size_t>(got);
            if (got > 0) {
                // A long trickle merges into the last chunk rather than losing its end.
                chunkCount_ -= chunkCount_ == MaxChunks ? 1 : 0;
                chunks_[chunkCount_++] = {lastTrafficUs_, rxLength_};
            }
            j = judge(limit);
            if (j.step == Step::Done || (!gone() && rxLength_ < rx_.size())) {
                continue;
            }
        }
        // Time-out, the gap, a failure or no more room: the frame ends with what came.
        j = finish(j);
    }

    inReceive_ = false;
    reception_.outcome = j.outcome;
    reception_.echoStripped = j.outcome == Outcome::EchoUnknown ? 0 : j.echo;
    recordTiming(j);
    const bool passed = j.outcome == Outcome::Answer || j.outcome == Outcome::Incomplete ||
                        j.outcome == Outcome::Damaged || j.outcome == Outcome::Foreign ||
                        j.outcome == Outcome::Unexpected;
    const size_t taken = std::min(j.echo + j.length, rxLength_);
    const int handed = passed ? static_cast<int>(std::min(j.length, limit)) : 0;
    std::memcpy(buffer, rx_.data() + j.echo, static_cast<size_t>(handed));
    // What came after the frame waits for Drain.
    std::memmove(rx_.data(), rx_.data() + taken, rxLength_ - taken);
    rxLength_ -= taken;

    settleGuard(j.outcome, timeoutMs);
    count(j.outcome);
    receiveEndUs_ = monoNowUs();
    if (received != nullptr) {
        *received = handed;
    }
    return handed;
}

void SerialPort::noteStray(int bytes, int64_t atUs) {
    if (bytes <= 0) {
        return;
    }
    if (strayBytes_ == 0) {
        strayFirstUs_ = atUs;
    }
    strayBytes_ += bytes;
}

void SerialPort::recordTiming(const Judgement& j) {
    using Kind = ExchangeTiming::Kind;
    ExchangeTiming t;
    switch (j.outcome) {
        case Outcome::Answer: t.kind = Kind::Answer; break;
        case Outcome::Silent: t.kind = Kind::Silent; break;
        case Outcome::Incomplete: t.kind = Kind::Incomplete; break;
        case Outcome::Damaged: t.kind = Kind::Damaged; break;
        case Outcome::Foreign: t.kind = Kind::Foreign; break;
        case Outcome::Unexpected: t.kind = Kind::Unexpected; break;
        case Outcome::EchoOnly: t.kind = Kind::EchoOnly; break;
        case Outcome::EchoUnknown: t.kind = Kind::EchoUnknown; break;
        case Outcome::Cancelled: t.kind = Kind::Cancelled; break;
        case Outcome::Gone: t.kind = Kind::Gone; break;
    }
    const bool request = lastSentLength_ > 0;
    if (request) {
        const rtu::FrameView sent = rtu::unwrap(lastSent_, lastSentLength_);
        if (sent.length >= 2) {
            t.node = sent.data[0];
            t.function = sent.data[1];
        }
    }
    t.baud = baud_;
    t.charUs = charTimeUs_;
    t.timeoutMs = report_->lastTimeoutMs;
    t.lateBytes = lateBytes_;
    t.lateAfterUs = lateAfterUs_;
    lateBytes_ = 0;
    lateAfterUs_ = -1;

    const bool echoOnly = j.outcome == Outcome::EchoOnly || j.outcome == Outcome::EchoUnknown;
    const size_t echo = echoOnly ? rxLength_ : j.echo;
    const size_t answerEnd = echoOnly ? echo : std::min(j.echo + j.length, rxLength_);
    t.echo = echo > 0 && request;
    t.answerBytes = static_cast<int>(answerEnd - std::min(echo, answerEnd));
    if (t.kind == Kind::Answer && t.answerBytes > 0) {
        const rtu::FrameView answer = rtu::unwrap(rx_.data() + echo, answerEnd - echo);
        if (answer.length >= 2 && (answer.data[1] & rtu::ExceptionFlag) != 0) {
            t.kind = Kind::Exception;
        }
    }
    size_t before = 0;
    int64_t lastAt = 0;
    for (size_t i = 0; i < chunkCount_; ++i) {
        const Chunk& c = chunks_[i];
        if (c.count > echo && before < answerEnd) {
            if (t.chunks == 0) {
                t.firstByteAtUs = c.atUs;
            } else {
                t.maxGapUs = std::max(t.maxGapUs, c.atUs - lastAt);
            }
            lastAt = c.atUs;
            ++t.chunks;
        }
        before = c.count;
    }
    if (echo > 0 && chunkCount_ > 0) {
        reception_.echoFirstUs = chunks_[0].atUs;
    }
    reception_.answerFirstUs = t.firstByteAtUs;
    if (t.chunks > 0 && request && sendEndUs_ > 0) {
        t.latencyUs = t.firstByteAtUs - sendEndUs_;
        t.completeUs = lastAt - sendEndUs_;
    }
    if (report_->exchanges.size() < LineReport::MaxExchanges) {
        report_->exchanges.push_back(t);
    }
}

}  // namespace refhost
