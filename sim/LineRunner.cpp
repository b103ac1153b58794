#include <qarn/sim/LineRunner.h>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <stdexcept>
#include <system_error>

namespace sim {

namespace {

uint64_t monotonicUs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

[[noreturn]] void throwErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

// Waits for `events` on fd (and for the stop pipe) until `deadlineUs`, or without limit when
// `deadlineUs` is 0. Returns the revents of fd; stopped is set when the stop pipe is readable.
short waitFor(int fd, short events, int stopFd, uint64_t deadlineUs, bool& stopped) {
    pollfd fds[2] = {{stopFd, POLLIN, 0}, {fd, events, 0}};
    const nfds_t count = fd < 0 ? 1 : 2;
    timespec timeout{};
    timespec* limit = nullptr;
    if (deadlineUs != 0) {
        const uint64_t now = monotonicUs();
        const uint64_t left = deadlineUs > now ? deadlineUs - now : 0;
        timeout.tv_sec = static_cast<time_t>(left / 1000000u);
        timeout.tv_nsec = static_cast<long>(left % 1000000u) * 1000;
        limit = &timeout;
    }
    if (ppoll(fds, count, limit, nullptr) < 0) {
        if (errno == EINTR) {
            return 0;
        }
        throwErrno("poll");
    }
    stopped = (fds[0].revents & POLLIN) != 0;
    return count == 2 ? fds[1].revents : 0;
}

}  // namespace

uint64_t LineSettings::characterUs() const {
    return static_cast<uint64_t>(
        rtu::characterTimeUs(static_cast<int>(baud), 8, parity, static_cast<int>(stopBits)));
}

uint64_t LineSettings::silenceUs() const {
    return static_cast<uint64_t>(
        rtu::frameSilenceUs(static_cast<int>(baud), static_cast<int64_t>(characterUs())));
}

LineRunner::LineRunner(SlaveEngine& engine, const LineSettings& line)
    : engine_(engine), line_(line) {
    if (pipe2(stopPipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        throwErrno("pipe");
    }
}

LineRunner::~LineRunner() {
    for (int fd : {fd_, ptySlaveFd_, stopPipe_[0], stopPipe_[1]}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

void LineRunner::checkBaud() const {
    if (line_.baud > static_cast<uint32_t>(rtu::HighestStandardBaud) ||
        !rtu::isStandardBaud(static_cast<int>(line_.baud))) {
        throw std::invalid_argument("baud rate " + std::to_string(line_.baud) +
                                    " is not a standard rate (" +
                                    std::to_string(rtu::LowestStandardBaud) + " to " +
                                    std::to_string(rtu::HighestStandardBaud) + ")");
    }
}

std::string LineRunner::openPty() {
    checkBaud();
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) {
        throwErrno("posix_openpt");
    }
    char name[128];
    if (grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, name, sizeof name) != 0) {
        const int saved = errno;
        close(master);
        errno = saved;
        throwErrno("pty set-up");
    }
    const int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    if (slave < 0 || tcgetattr(slave, &tio) != 0) {
        const int saved = errno;
        close(master);
        if (slave >= 0) {
            close(slave);
        }
        errno = saved;
        throwErrno(std::string("open ") + name);
    }
    // Raw, or the line discipline would echo our answers back and translate CR and LF, which
    // are the ISMG wrapper bytes.
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fd_ = master;
    ptySlaveFd_ = slave;
    return name;
}

void LineRunner::openSerial(const std::string& path) {
    checkBaud();
    const speed_t speed = rtu::termiosSpeed(static_cast<int>(line_.baud));
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        throwErrno("open " + path);
    }
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        const int saved = errno;
        close(fd);
        errno = saved;
        throwErrno(path + " is not a serial device");
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CMSPAR | CSTOPB);
    if (line_.parity != Parity::None) {
        tio.c_cflag |= PARENB;
    }
    if (line_.parity == Parity::Odd) {
        tio.c_cflag |= PARODD;
    }
    if (line_.parity == Parity::Mark) {
        tio.c_cflag |= PARODD | CMSPAR;
    }
    if (line_.stopBits == 2) {
        tio.c_cflag |= CSTOPB;
    }
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        const int saved = errno;
        close(fd);
        errno = saved;
        throwErrno("set up " + path);
    }
    tcflush(fd, TCIOFLUSH);
    fd_ = fd;
}

void LineRunner::stop() {
    const char byte = 1;
    // Nothing to do on failure: a full pipe already holds a stop request.
    [[maybe_unused]] const ssize_t n = write(stopPipe_[1], &byte, 1);
}

bool LineRunner::stopRequested() {
    if (!stopped_) {
        pollfd p{stopPipe_[0], POLLIN, 0};
        stopped_ = poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
    }
    return stopped_;
}

bool LineRunner::waitUntil(uint64_t us) {
    while (!stopped_ && monotonicUs() < us) {
        waitFor(-1, 0, stopPipe_[0], us, stopped_);
    }
    return !stopped_;
}

void LineRunner::run() {
    if (fd_ < 0) {
        throw std::logic_error("LineRunner::run without a device");
    }
    startUs_ = monotonicUs();
    RtuReceiver receiver(line_.silenceUs());
    uint8_t buffer[512];
    while (!stopRequested()) {
        const uint64_t deadline = receiver.deadline().value_or(0);
        const short revents = waitFor(fd_, POLLIN, stopPipe_[0], deadline, stopped_);
        if (stopped_) {
            break;
        }
        if ((revents & POLLIN) != 0) {
            const ssize_t n = read(fd_, buffer, sizeof buffer);
            if (n > 0) {
                receiver.feed(buffer, static_cast<size_t>(n), monotonicUs());
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                throwErrno("read");
            }
        } else if ((revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            throw std::system_error(EIO, std::generic_category(), "serial device closed");
        }
        receiver.poll(monotonicUs());
        while (receiver.hasFrame() && !stopped_) {
            serve(receiver.takeFrame());
        }
    }
}

void LineRunner::serve(const ReceivedFrame& frame) {
    const uint64_t now = monotonicUs();
    if (trace_) {
        trace_(true, frame.bytes, timeMs(frame.firstByteUs));
    }
    const std::optional<Reply> reply =
        engine_.process(frame.bytes.data(), frame.bytes.size(), timeMs(now));
    if (!reply) {
        return;
    }
    uint64_t start = now;
    if (line_.pace) {
        // On a real line the request ends only after all its characters, and a slave answers
        // once the line has then been silent for 3.5 characters.
        const uint64_t onLine = frame.bytes.size() * line_.characterUs();
        start = std::max(start, frame.firstByteUs + onLine + line_.silenceUs());
    }
    start += uint64_t{reply->delayMs} * 1000u;
    send(reply->bytes, start);
}

void LineRunner::send(const std::vector<uint8_t>& bytes, uint64_t startUs) {
    if (!waitUntil(startUs)) {
        return;
    }
    if (trace_) {
        trace_(false, bytes, timeMs(monotonicUs()));
    }
    if (!line_.pace) {
        writeAll(bytes.data(), bytes.size());
        return;
    }
    // Each byte at its own character time, scheduled from the start so that sleeping late
    // does not add up over the frame.
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (!waitUntil(startUs + i * line_.characterUs())) {
            return;
        }
        writeAll(&bytes[i], 1);
    }
}

void LineRunner::writeAll(const uint8_t* data, size_t length) {
    constexpr uint64_t StallUs = 1000000;  // nobody reads the other side: give the bytes up
    const uint64_t giveUp = monotonicUs() + StallUs;
    while (length > 0) {
        const ssize_t n = write(fd_, data, length);
        if (n > 0) {
            data += n;
            length -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            throwErrno("write");
        }
        waitFor(fd_, POLLOUT, stopPipe_[0], giveUp, stopped_);
        if (stopped_ || monotonicUs() >= giveUp) {
            return;
        }
    }
}

}  // namespace sim
