#pragma once
// A simulated line served on a pty from a thread, and a plain client for its other side.

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <exception>
#include <string>
#include <thread>
#include <vector>

#include "LineRunner.h"
#include "SlaveEngine.h"

namespace simtest {

class PtyServer {
  public:
    PtyServer(sim::SlaveEngine& engine, const sim::LineSettings& line)
        : runner_(engine, line), path_(runner_.openPty()) {}
    ~PtyServer() {
        runner_.stop();
        if (thread_.joinable()) {
            thread_.join();
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
    ~PtyClient() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    bool ok() const { return fd_ >= 0; }

    void send(const std::vector<uint8_t>& bytes) {
        ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Up to `count` bytes, waiting at most `timeoutMs` in all.
    std::vector<uint8_t> receive(size_t count, int timeoutMs) {
        std::vector<uint8_t> got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (got.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            pollfd p{fd_, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) {
                break;
            }
            uint8_t buf[300];
            const ssize_t n = read(fd_, buf, std::min(sizeof buf, count - got.size()));
            if (n <= 0) {
                break;
            }
            got.insert(got.end(), buf, buf + n);
        }
        return got;
    }

  private:
    int fd_;
};

}  // namespace simtest
