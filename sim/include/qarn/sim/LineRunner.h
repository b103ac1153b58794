#pragma once
// Serves a SlaveEngine on a serial device or on the master side of a pty pair: splits the
// incoming bytes into frames, hands them to the engine and sends the answers, optionally paced
// like a real line (each byte at its character time, the answer no earlier than a real slave
// could give it). Beyond timing it models what real RS-485 lines do to the master: a slave that
// cannot hear while it answers, delivery in USB bursts, the master's own bytes echoed, noise
// between frames.

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include <qarn/rtu/LineSettings.h>
#include "OutputQueue.h"
#include "Random.h"
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

    // A real half-duplex slave does not hear a request whose last byte comes while it delays
    // or sends an answer; true queues such requests and answers them all in order instead.
    bool queue = false;
    // Everything for the master is handed over in bursts every burstMs (a USB adapter's
    // latency timer), each holding what the line carried meanwhile; 0 for at once.
    uint32_t burstMs = 0;
    // The master's own bytes come back to it (an RS-485 adapter with its receiver on), before
    // the answer.
    bool echo = false;
    // Probability per answer of 1 to 8 random bytes on the master's side after it, before the
    // next answer could start.
    double noise = 0;
    // openPty() keeps a symbolic link at this path to the pty's slave side while it serves.
    std::string link{};
    // A pty's two ends share one termios, which the master sets and the runner leaves alone.
    // Strict: when its baud rate or stop bits differ from the ones above, each request is
    // received as a UART at these settings would (garbled, see UartMismatch.h) and never
    // answered. Parity cannot be told: a pty always carries 8 bits without parity.
    bool strict = false;

    // One character in whole microseconds, rounded up: start bit, 8 data bits, the parity bit
    // if any, the stop bits.
    uint64_t characterUs() const;
    // Silence that ends a frame: 3.5 characters, but 1750 us at rates above 19200 baud.
    uint64_t silenceUs() const;
};

// What the line did beyond the engine's own counts.
struct LineStats {
    uint64_t unheard = 0;  // requests that came while the slave was busy, not served
    uint64_t queued = 0;   // requests that waited for an earlier answer (queue)
    uint64_t echoed = 0;   // bytes echoed to the master
    uint64_t noiseBursts = 0;
    uint64_t noiseBytes = 0;
    uint64_t mismatched = 0;  // requests sent at other line settings (strict), not answered
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
    // the program under test to open. With a link set, the link is made to point to it
    // (atomically: it replaces an older link, never a file of another kind).
    std::string openPty();
    // Serves a serial device at the line's settings, for this process alone: the same
    // exclusive open and lock as the reference host's port, so that neither gets a device the
    // other holds. A held device fails with std::system_error EBUSY, "port busy: ...". A link
    // is for a pty only (std::invalid_argument).
    void openSerial(const std::string& path);

    void setTrace(Trace trace) { trace_ = std::move(trace); }

    // Serves requests until stop() is called; the simulated time starts at 0 here. Throws
    // std::system_error when the device fails. The link goes when it returns.
    void run();
    // Makes run() return soon (at once if it has not started). Async-signal-safe: it only
    // writes to a pipe, so a signal handler or another thread may call it.
    void stop();

    // Counts of the last run(); read them once it has returned.
    const LineStats& stats() const { return stats_; }

  private:
    void checkBaud() const;
    void serveLine();
    void echo(const uint8_t* data, size_t length, uint64_t nowUs);
    // Strict line: the bytes as the slave hears them at its own settings; marks the request
    // they belong to as not to be answered when the master's settings differ.
    std::vector<uint8_t> hear(const uint8_t* data, size_t length);
    void accept(ReceivedFrame frame);
    void serve(const ReceivedFrame& frame, uint64_t nowUs);
    void addNoise(uint64_t afterUs);
    uint64_t nextDeadline(const RtuReceiver& receiver) const;
    void writeAll(const uint8_t* data, size_t length);
    bool stopRequested();
    uint64_t timeMs(uint64_t us) const { return (us - startUs_) / 1000; }
    void makeLink(const std::string& target);
    void removeLink();

    SlaveEngine& engine_;
    LineSettings line_;
    Trace trace_;
    int fd_ = -1;
    int ptySlaveFd_ = -1;  // kept open so the master side never sees a hang-up
    int stopPipe_[2] = {-1, -1};
    bool stopped_ = false;
    bool exclusive_ = false;  // fd_ holds TIOCEXCL
    std::string ptyPath_;
    bool linked_ = false;
    uint64_t startUs_ = 0;

    // State of one run.
    OutputQueue output_;
    std::deque<ReceivedFrame> waiting_;  // requests heard while busy (queue)
    uint64_t busyUntilUs_ = 0;           // line time of the last answer byte
    uint64_t echoEndUs_ = 0;             // end of the last echoed character
    uint64_t quietFromUs_ = 0;           // noise and the silence after it end here
    bool misheard_ = false;              // the pending request came at other settings
    Random noise_{0};
    LineStats stats_;
};

}  // namespace sim
