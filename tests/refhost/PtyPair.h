#pragma once
// A pty pair standing in for a serial line: the port under test opens the slave by its path,
// the test plays the device on the master.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

class PtyPair {
  public:
    PtyPair() {
        int slave = -1;
        char name[256] = {};
        if (openpty(&master_, &slave, name, nullptr, nullptr) == 0) {
            slavePath_ = name;
            // Our own slave descriptor would keep the line up after the port closes; the port
            // opens the slave by its path instead.
            close(slave);
            fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
        }
    }
    ~PtyPair() { closeMaster(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return master_ >= 0; }
    int master() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }

    // The device sends.
    void write(const std::vector<uint8_t>& bytes) const {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
            } else {
                pollfd p{master_, POLLOUT, 0};
                poll(&p, 1, 100);
            }
        }
    }

    // What the port sent, `count` bytes or what came within `timeoutMs`.
    std::vector<uint8_t> read(size_t count, int timeoutMs = 2000) const {
        std::vector<uint8_t> out;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < count && std::chrono::steady_clock::now() < end) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, 10) > 0) {
                uint8_t buf[512];
                const ssize_t n = ::read(master_, buf, sizeof buf);
                if (n > 0) {
                    out.insert(out.end(), buf, buf + n);
                }
            }
        }
        return out;
    }

    // The device goes away (cable pulled).
    void closeMaster() {
        if (master_ >= 0) {
            close(master_);
            master_ = -1;
        }
    }

  private:
    int master_ = -1;
    std::string slavePath_;
};
