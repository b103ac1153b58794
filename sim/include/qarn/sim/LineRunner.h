#pragma once
// Serves a SlaveEngine on a serial device or on the master side of a pty pair: splits the
// incoming bytes into frames, hands them to the engine and sends the answers, optionally paced
// like a real line (each byte at its character time, the answer no earlier than a real slave
// could give it).

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <qarn/rtu/LineSettings.h>
#include "RtuReceiver.h"
#include "SlaveEngine.h"

namespace sim {

// Mark: the parity bit is always 1.
using Parity = rtu::Parity;

struct LineSettings {
    uint32_t baud = 19200;  // one of rtu::StandardBaudRates
    Parity parity = Parity::None;
    uint32_t stopBits = 1;
    bool pace = true;

    // One character in whole microseconds, rounded up: start bit, 8 data bits, the parity bit
    // if any, the stop bits.
    uint64_t characterUs() const;
    // Silence that ends a frame: 3.5 characters, but 1750 us at rates above 19200 baud.
    uint64_t silenceUs() const;
};

class LineRunner {
  public:
    // Called for every frame received and sent, with the simulated time in ms.
    using Trace =
        std::function<void(bool received, const std::vector<uint8_t>& bytes, uint64_t timeMs)>;

    LineRunner(SlaveEngine& engine, const LineSettings& line);
    ~LineRunner();
    LineRunner(const LineRunner&) = delete;
    LineRunner& operator=(const LineRunner&) = delete;

    // Both open calls throw std::invalid_argument for a baud rate outside
    // rtu::StandardBaudRates, and std::system_error when the device fails.

    // Creates a pty pair and serves its master side; returns the path of the slave side, for
    // the program under test to open.
    std::string openPty();
    // Serves a serial device at the line's settings.
    void openSerial(const std::string& path);

    void setTrace(Trace trace) { trace_ = std::move(trace); }

    // Serves requests until stop() is called; the simulated time starts at 0 here. Throws
    // std::system_error when the device fails.
    void run();
    // Makes run() return soon (at once if it has not started). Async-signal-safe: it only
    // writes to a pipe, so a signal handler or another thread may call it.
    void stop();

  private:
    void checkBaud() const;
    void serve(const ReceivedFrame& frame);
    void send(const std::vector<uint8_t>& bytes, uint64_t startUs);
    void writeAll(const uint8_t* data, size_t length);
    // Sleeps until `us` on the monotonic clock; false when stop() came first.
    bool waitUntil(uint64_t us);
    bool stopRequested();
    uint64_t timeMs(uint64_t us) const { return (us - startUs_) / 1000; }

    SlaveEngine& engine_;
    LineSettings line_;
    Trace trace_;
    int fd_ = -1;
    int ptySlaveFd_ = -1;  // kept open so the master side never sees a hang-up
    int stopPipe_[2] = {-1, -1};
    bool stopped_ = false;
    uint64_t startUs_ = 0;
};

}  // namespace sim
