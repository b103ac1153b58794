#pragma once
// Frames as hex text for the simulator tests ("01 03 00 00 00 0A" plus the CRC), and a simulated
// line served on a pty from a thread with a plain client for its other side.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "LineRunner.h"
#include "SlaveFrames.h"

namespace simtest {

inline std::vector<uint8_t> bytes(const std::string& hexText) {
    std::istringstream in(hexText);
    std::vector<uint8_t> out;
    for (std::string b; in >> b;) {
        out.push_back(static_cast<uint8_t>(std::strtoul(b.c_str(), nullptr, 16)));
    }
    return out;
}

// The bytes with their CRC appended; in brackets ("[03 03 ...]"), also inside the ISMG wrapper.
inline std::vector<uint8_t> frame(const std::string& hexText) {
    const bool wrapped = !hexText.empty() && hexText.front() == '[';
    std::vector<uint8_t> f = bytes(wrapped ? hexText.substr(1, hexText.size() - 2) : hexText);
    sim::appendCrc(f);
    return wrapped ? sim::wrapIsmg(f) : f;
}

inline std::string hex(const std::vector<uint8_t>& b) {
    std::string s;
    char item[4];
    for (uint8_t v : b) {
        std::snprintf(item, sizeof item, s.empty() ? "%02X" : " %02X", v);
        s += item;
    }
    return s;
}

// The runner on a fresh pty, in a thread from start() to finish().
class PtyServer {
  public:
    PtyServer(sim::SlaveEngine& engine, const sim::LineSettings& line)
        : runner_(engine, line), path_(runner_.openPty()) {}
    ~PtyServer() {
        if (thread_.joinable()) {
            finish();
        }
    }
    void start() {
        thread_ = std::thread([this] {
            try {
                runner_.run();
            } catch (...) {
                failure_ = std::current_exception();
            }
        });
    }
    // Stops the runner and rethrows what ended it, if anything did.
    void finish() {
        runner_.stop();
        thread_.join();
        if (failure_) {
            std::rethrow_exception(failure_);
        }
    }
    sim::LineRunner& runner() { return runner_; }
    const std::string& path() const { return path_; }

  private:
    sim::LineRunner runner_;
    std::string path_;
    std::thread thread_;
    std::exception_ptr failure_;
};

// The master's side of the pty.
class PtyClient {
  public:
    explicit PtyClient(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY)) {}
    ~PtyClient() { close(fd_); }
    bool ok() const { return fd_ >= 0; }

    void send(const std::vector<uint8_t>& b) {
        ASSERT_EQ(write(fd_, b.data(), b.size()), static_cast<ssize_t>(b.size()));
    }
    // Up to `count` bytes, waiting at most `timeoutMs` for each piece.
    std::vector<uint8_t> receive(size_t count, int timeoutMs) {
        std::vector<uint8_t> got(count);
        size_t n = 0;
        for (pollfd p{fd_, POLLIN, 0}; n < count && poll(&p, 1, timeoutMs) > 0;) {
            const ssize_t r = read(fd_, got.data() + n, count - n);
            if (r <= 0) {
                break;
            }
            n += static_cast<size_t>(r);
        }
        got.resize(n);
        return got;
    }

  private:
    int fd_;
};

}  // namespace simtest
