#include <qarn/sim/LineRunner.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <stdexcept>
#include <system_error>

#include <qarn/sim/UartMismatch.h>

namespace sim {

namespace {

uint64_t monotonicUs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

constexpr uint64_t NoiseSeedSalt = 0x6E6F697365ULL;
constexpr size_t MaxNoiseBytes = 8;

[[noreturn]] void throwErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

[[noreturn]] void throwBusy(const std::string& path) {
    throw std::system_error(EBUSY, std::generic_category(),
                            "port busy: " + path + " is in use by another program");
}

// Closes fd and throws what errno said before.
[[noreturn]] void closeAndThrow(int fd, const std::string& what) {
    const int saved = errno;
    close(fd);
    errno = saved;
    throwErrno(what);
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
    removeLink();
    if (exclusive_) {
        ioctl(fd_, TIOCNXCL);
    }
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
    ptyPath_ = name;
    if (!line_.link.empty()) {
        makeLink(name);
    }
    return name;
}

void LineRunner::openSerial(const std::string& path) {
    checkBaud();
    const speed_t speed = rtu::termiosSpeed(static_cast<int>(line_.baud));
    if (!line_.link.empty()) {
        throw std::invalid_argument("a link is for a pty, not for " + path);
    }
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == EBUSY) {
            throwBusy(path);  // TIOCEXCL of another program
        }
        throwErrno("open " + path);
    }
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        closeAndThrow(fd, path + " is not a serial device");
    }
    // TIOCEXCL keeps out later opens by ordinary users only; the lock keeps out root as well.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            close(fd);
            throwBusy(path);
        }
        closeAndThrow(fd, "lock " + path);
    }
    if (ioctl(fd, TIOCEXCL) != 0) {
        closeAndThrow(fd, "exclusive open of " + path);
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
        ioctl(fd, TIOCNXCL);
        closeAndThrow(fd, "set up " + path);
    }
    tcflush(fd, TCIOFLUSH);
    fd_ = fd;
    exclusive_ = true;
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

void LineRunner::run() {
    if (fd_ < 0) {
        throw std::logic_error("LineRunner::run without a device");
    }
    try {
        serveLine();
    } catch (...) {
        removeLink();
        throw;
    }
    removeLink();
}

// One loop for both directions: bytes from the master are read (and time-stamped) even while
// an answer waits or goes out, which is what lets the runner tell when a slave was busy.
void LineRunner::serveLine() {
    startUs_ = monotonicUs();
    RtuReceiver receiver(line_.silenceUs());
    output_ = OutputQueue(startUs_, uint64_t{line_.burstMs} * 1000u);
    waiting_.clear();
    busyUntilUs_ = echoEndUs_ = quietFromUs_ = 0;
    misheard_ = false;
    noise_ = Random(mix64(engine_.seed() ^ NoiseSeedSalt));
    stats_ = LineStats{};
    uint8_t buffer[512];
    while (!stopRequested()) {
        const short revents = waitFor(fd_, POLLIN, stopPipe_[0], nextDeadline(receiver), stopped_);
        if (stopped_) {
            break;
        }
        if ((revents & POLLIN) != 0) {
            const ssize_t n = read(fd_, buffer, sizeof buffer);
            if (n > 0) {
                const uint64_t now = monotonicUs();
                if (line_.strict) {
                    const std::vector<uint8_t> heard = hear(buffer, static_cast<size_t>(n));
                    receiver.feed(heard.data(), heard.size(), now);
                } else {
                    receiver.feed(buffer, static_cast<size_t>(n), now);
                }
                if (line_.echo) {
                    echo(buffer, static_cast<size_t>(n), now);
                }
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                throwErrno("read");
            }
        } else if ((revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            throw std::system_error(EIO, std::generic_category(), "serial device closed");
        }
        const uint64_t now = monotonicUs();
        receiver.poll(now);
        while (receiver.hasFrame()) {
            accept(receiver.takeFrame());
        }
        while (!waiting_.empty() && now > busyUntilUs_) {
            const ReceivedFrame next = std::move(waiting_.front());
            waiting_.pop_front();
            serve(next, now);
        }
        const std::vector<uint8_t> due = output_.take(monotonicUs());
        writeAll(due.data(), due.size());
    }
}

uint64_t LineRunner::nextDeadline(const RtuReceiver& receiver) const {
    uint64_t deadline = UINT64_MAX;
    if (const auto d = receiver.deadline()) {
        deadline = *d;
    }
    if (const auto d = output_.due()) {
        deadline = std::min(deadline, *d);
    }
    if (!waiting_.empty()) {
        deadline = std::min(deadline, busyUntilUs_ + 1);
    }
    return deadline == UINT64_MAX ? 0 : deadline;
}

std::vector<uint8_t> LineRunner::hear(const uint8_t* data, size_t length) {
    termios tio{};
    if (tcgetattr(fd_, &tio) != 0) {
        throwErrno("tcgetattr");
    }
    CharacterFormat master;
    master.baud = 0;  // a rate that is no standard one: nothing is heard
    for (const int rate : rtu::StandardBaudRates) {
        if (rtu::termiosSpeed(rate) == cfgetospeed(&tio)) {
            master.baud = static_cast<uint32_t>(rate);
        }
    }
    master.stopBits = (tio.c_cflag & CSTOPB) != 0 ? 2 : 1;
    CharacterFormat own;
    own.baud = line_.baud;
    own.stopBits = line_.stopBits;
    own.parity = line_.parity != Parity::None;
    master.parity = own.parity;  // a pty has no parity bit either way
    if (master.baud == own.baud && master.stopBits == own.stopBits) {
        return std::vector<uint8_t>(data, data + length);
    }
    std::vector<uint8_t> heard;
    if (master.baud != 0) {
        heard = receiveMismatched(data, length, master, own);
    }
    misheard_ = misheard_ || !heard.empty();
    return heard;
}

// Echoed bytes go to the master only; the receiver, which reads the master, never sees them.
void LineRunner::echo(const uint8_t* data, size_t length, uint64_t nowUs) {
    const bool spread = line_.pace || line_.burstMs != 0;
    for (size_t i = 0; i < length; ++i) {
        const uint64_t at = spread ? std::max(nowUs, echoEndUs_) : nowUs;
        output_.add(at, data[i]);
        echoEndUs_ = at + (spread ? line_.characterUs() : 0);
    }
    stats_.echoed += length;
}

void LineRunner::accept(ReceivedFrame frame) {
    if (trace_) {
        trace_(true, frame.bytes, timeMs(frame.firstByteUs));
    }
    // Garbled on the way in; and a master at other settings could not read the answer either.
    if (misheard_) {
        misheard_ = false;
        ++stats_.mismatched;
        return;
    }
    // Ended while the slave was still answering (or waiting to): a half-duplex slave never
    // heard it.
    if (frame.lastByteUs <= busyUntilUs_ || !waiting_.empty()) {
        if (!line_.queue) {
            ++stats_.unheard;
            return;
        }
        ++stats_.queued;
        waiting_.push_back(std::move(frame));
        return;
    }
    serve(frame, monotonicUs());
}

void LineRunner::serve(const ReceivedFrame& frame, uint64_t nowUs) {
    const std::optional<Reply> reply =
        engine_.process(frame.bytes.data(), frame.bytes.size(), timeMs(nowUs));
    if (!reply) {
        return;
    }
    const uint64_t characterUs = line_.characterUs();
    uint64_t start = nowUs;
    if (line_.pace) {
        // On a real line the request ends only after all its characters, and a slave answers
        // once the line has then been silent for 3.5 characters.
        start = std::max(start,
                         frame.firstByteUs + frame.bytes.size() * characterUs + line_.silenceUs());
    }
    if (line_.echo) {
        start = std::max(start, echoEndUs_ + (line_.pace ? line_.silenceUs() : 0));
    }
    start = std::max(start, quietFromUs_);
    start += uint64_t{reply->delayMs} * 1000u;
    if (trace_) {
        trace_(false, reply->bytes, timeMs(start));
    }
    // Bursts hold what the line carried meanwhile, so an answer is spread over its character
    // times for them even without pacing.
    const uint64_t step = line_.pace || line_.burstMs != 0 ? characterUs : 0;
    for (size_t i = 0; i < reply->bytes.size(); ++i) {
        output_.add(start + i * step, reply->bytes[i]);
    }
    busyUntilUs_ = start + (reply->bytes.size() - 1) * step;
    if (line_.noise > 0 && noise_.uniform() < line_.noise) {
        addNoise(busyUntilUs_ + characterUs);
    }
}

// A burst of noise after an answer ends, a frame's silence or more later, and a frame's silence
// before anything else the slave sends: bytes between frames, never inside one.
void LineRunner::addNoise(uint64_t afterUs) {
    const uint64_t characterUs = line_.characterUs();
    const uint64_t silenceUs = line_.silenceUs();
    const size_t count = 1 + static_cast<size_t>(noise_.next() % MaxNoiseBytes);
    uint64_t at = afterUs + silenceUs + noise_.next() % silenceUs;
    for (size_t i = 0; i < count; ++i, at += characterUs) {
        output_.add(at, static_cast<uint8_t>(noise_.next()));
    }
    quietFromUs_ = at + silenceUs;
    ++stats_.noiseBursts;
    stats_.noiseBytes += count;
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

// A symbolic link at a temporary name renamed over the link: whoever opens the link gets the
// old pty or the new one, never nothing.
void LineRunner::makeLink(const std::string& target) {
    const std::string& link = line_.link;
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        throw std::system_error(EEXIST, std::generic_category(),
                                "link " + link + ": there is a file of another kind");
    }
    const std::string temporary = link + ".tmp" + std::to_string(getpid());
    unlink(temporary.c_str());
    if (symlink(target.c_str(), temporary.c_str()) != 0) {
        throwErrno("link " + link);
    }
    if (rename(temporary.c_str(), link.c_str()) != 0) {
        const int saved = errno;
        unlink(temporary.c_str());
        errno = saved;
        throwErrno("link " + link);
    }
    linked_ = true;
}

// Only our own link goes: a simulator started since on the same path keeps its link.
void LineRunner::removeLink() {
    if (!linked_) {
        return;
    }
    linked_ = false;
    char target[PATH_MAX];
    const ssize_t n = readlink(line_.link.c_str(), target, sizeof target);
    if (n > 0 && std::string(target, static_cast<size_t>(n)) == ptyPath_) {
        unlink(line_.link.c_str());
    }
}

}  // namespace sim
