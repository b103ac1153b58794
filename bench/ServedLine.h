#pragma once
// One simulated slave on the master side of a pty pair, served from a thread of its own for as
// long as this lives: the peer of the benchmarks that go over a real port.

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include <qarn/sim/LineRunner.h>
#include <qarn/sim/Profile.h>
#include <qarn/sim/SlaveEngine.h>

class ServedLine {
  public:
    ServedLine(uint8_t node, const sim::Profile& profile, const sim::LineSettings& settings)
        : runner_(engine_, settings) {
        engine_.addDevice(node, profile);
        path_ = runner_.openPty();
        thread_ = std::thread([this] {
            try {
                runner_.run();
            } catch (...) {
                failed_ = true;
            }
        });
    }
    ~ServedLine() {
        runner_.stop();
        thread_.join();
    }
    ServedLine(const ServedLine&) = delete;
    ServedLine& operator=(const ServedLine&) = delete;

    // The pty's slave side, for the master to open.
    const std::string& path() const { return path_; }
    bool failed() const { return failed_; }

  private:
    sim::SlaveEngine engine_;
    sim::LineRunner runner_;
    std::string path_;
    std::thread thread_;
    std::atomic<bool> failed_{false};
};
