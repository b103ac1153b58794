#pragma once
// A simulated line served on a pty from a thread, with a plain client for its other side.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <exception>
#include <string>
#include <thread>

#include <qarn/sim/LineRunner.h>
#include "TestBytes.h"

namespace simtest {

// The runner on a fresh pty, in a thread from start() to finish().
class PtyServer {
  public:
    PtyServer(sim::SlaveEngine& engine, const sim::LineSettings& line)
        : runner(engine, line), path(runner.openPty()) {}
    ~PtyServer() {
        if (thread_.joinable()) {
            finish();
        }
    }
    void start() {
        thread_ = std::thread([this] {
            try {
                runner.run();
            } catch (...) {
                failure_ = std::current_exception();
            }
        });
    }
    // Stops the runner and rethrows what ended it, if anything did.
    void finish() {
        runner.stop();
        thread_.join();
        if (failure_) {
            std::rethrow_exception(failure_);
        }
    }
    sim::LineRunner runner;
    const std::string path;

  private:
    std::thread thread_;
    std::exception_ptr failure_;
};

// The master's side of the pty.
class PtyClient {
  public:
    explicit PtyClient(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY)) {}
    ~PtyClient() { close(fd_); }

    void send(const Bytes& b) {
        ASSERT_EQ(write(fd_, b.data(), b.size()), static_cast<ssize_t>(b.size()));
    }
    // Up to `count` bytes, waiting at most `timeoutMs` for each piece.
    Bytes receive(size_t count, int timeoutMs) {
        Bytes got(count);
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

// A generic device at node 1, 0 in every register, served on a pty from construction on.
struct Line {
    explicit Line(const sim::LineSettings& line, const sim::FaultConfig& faults = {},
                  uint64_t seed = 5)
        : engine(seed), server(setUp(engine, faults), line) {
        server.start();
    }
    static sim::SlaveEngine& setUp(sim::SlaveEngine& e, const sim::FaultConfig& faults) {
        e.addDevice(1, sim::loadProfile("generic"));
        e.setFaults(faults);
        return e;
    }
    sim::SlaveEngine engine;
    PtyServer server;
};

inline sim::LineSettings fast() {
    return {115200, sim::Parity::None, 1, false};
}

}  // namespace simtest
