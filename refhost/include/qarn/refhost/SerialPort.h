#pragma once
// One serial line on a termios device (on-board UART, USB adapter, pty), handed out by
// SerialFactory.
//
// Besides moving bytes, the port keeps wrong data from passing as good on real RS-485 lines:
// - it waits for the whole answer the last request calls for, so an adapter that passes the
//   answer on in bursts does not cut it at the character gap;
// - after an attempt that found no proper answer it lets the line fall quiet before the next
//   request (the late-answer guard), so that a late answer is not taken for the next one;
// - it strips the echo of its requests where the adapter hears its own transmitter;
// - it reopens a device that went away once its path is back.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <qarn/host/ISerialPort.h>
#include <qarn/refhost/EchoMode.h>
#include <qarn/refhost/LineReport.h>
#include <qarn/rtu/AnswerFit.h>

struct termios;

namespace refhost {

class FrameSink;

class SerialPort final : public ISerialPort {
  public:
    // Largest frame kept for recognising its answer (an ISMG-wrapped 256-byte frame).
    static constexpr size_t MaxRequest = 264;
    // Time between two tries to reopen a device that went away.
    static constexpr int ReopenBackoffMs = 1000;

    // Opens `path` non-blocking and for this process alone (TIOCEXCL and an exclusive flock, so
    // a second program on the same port fails even as root), in raw mode. Null with `error` set
    // when the port can't be had.
    static std::unique_ptr<SerialPort> open(const std::string& path, std::string& error);
    ~SerialPort() override;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    void* ConvertTo(const char* name) override;
    const char* GetImpName() const override;
    int GetImpVersion() const override;

    // baud 1200 to 230400 (standard rates only); parity 0 none, 1 even, 2 odd, 3 mark; 7 or 8
    // data bits; 1 or 2 stop bits; mode 0 RS-232, 1 RS-485 (kernel direction control where the
    // device has it), 2 RS-422. Also asks the driver for low latency (USB adapters otherwise hold
    // received bytes back up to their latency timer). The settings are kept for a reopen.
    int Setup(int baud, int parity, int dataBits, int stopBits, int mode) override;
    // Throws away everything received so far; returns how many bytes that was (the first `size`
    // of them are copied to `buffer`), 0 when nothing was pending or the port is gone. On a gone
    // port it tries to reopen the device when the back-off has passed.
    int Drain(uint8_t* buffer, int size, int flags) override;
    // When the guard is armed, first waits until the line has been quiet for the guard time,
    // throwing away what arrives; then keeps the line silent for 3.5 character times after the
    // last byte on it, sends all bytes and waits until they are transmitted. On a gone port it
    // waits for the back-off and tries to reopen the device. Returns `length`, or 0 when the
    // port failed, is gone, or the stop request came.
    int Send(const uint8_t* frame, int length, int flags) override;
    // Waits up to `timeoutMs` for the answer to the frame sent last. The frame ends as soon as
    // the bytes form that answer (good CRC or not). While they are a proper prefix of it, later
    // bytes are waited for up to `timeoutMs` (counted from the call); bytes whose length can't be
    // known (another node or function, garbage) end after `interCharMs` without a byte. The echo
    // of the request is stripped as the echo mode says. Returns the byte count (0: no answer, only
    // the echo, an answer refused since the echo is not yet known, the stop request, or the port is
    // gone).
    int Receive(uint8_t* buffer, int size, int timeoutMs, int interCharMs, int* received,
                int flags) override;

    // Raw line settings for these parameters on top of `tio`; false with `error` for a setting
    // the line cannot do. Kept apart so the exact flags can be checked without a device (ptys
    // ignore data bits and parity).
    static bool lineSettings(int baud, int parity, int dataBits, int stopBits, termios& tio,
                             std::string& error);

    const std::string& path() const { return path_; }
    // Text of the last operating-system failure on this port; empty while there was none. While
    // the device is gone it keeps the reason (the last failed reopen's, once there was one).
    const std::string& lastError() const { return lastError_; }
    // True while the device is gone (unplugged, hung up): until a reopen succeeds, Receive
    // returns 0 at once and Send after the back-off.
    bool gone() const { return fd_ < 0; }
    // True when Setup switched the kernel's RS-485 direction control on.
    bool rs485Active() const { return rs485Active_; }
    // Line silence that Send keeps before it transmits, in microseconds.
    int64_t silenceUs() const { return silenceUs_; }
    // Failures are also copied here (the factory's record of the last port error).
    void reportTo(std::string* sink) { sink_ = sink; }
    // What the port sees is counted here (null: in a report of the port's own).
    void reportInto(LineReport* report) { report_ = report != nullptr ? report : &ownReport_; }
    const LineReport& report() const { return *report_; }
    // Guard waits, frames thrown away, echo decisions and reopen tries are noted here (null:
    // nowhere).
    void setTrace(FrameSink* trace) { trace_ = trace; }

    // Sets the echo mode (a port starts with Off, the factory's ports with its own setting); Auto
    // starts over finding it out, as it does after a reopen (the adapter may not be the same).
    void setEcho(EchoMode mode) { echoSetting_ = echo_ = mode; }
    // On or Off once known (set, or found by Auto); Auto while not yet known.
    EchoMode echo() const { return echo_; }
    // The late-answer guard time G in ms; negative: the time-out of the Receive that armed it.
    void setLateGuardMs(int ms) { guardMs_ = ms; }
    bool guardArmed() const { return guardArmed_; }
    // Every wait also watches `fd` (-1: none) and ends at once when it is readable; the fd is
    // only polled, never read.
    void setCancelFd(int fd) { cancelFd_ = fd; }

    // What the last Receive made of the bytes, for the trace.
    enum class Outcome {
        Answer,       // the answer (or, without a request to go by, what came)
        Silent,       // nothing came
        Incomplete,   // fewer bytes than the answer needs
        Damaged,      // bad CRC
        Foreign,      // a frame of another node or function, passed on as it is
        Unexpected,   // a frame of no length known, passed on as it is
        EchoOnly,     // the echo, no answer
        EchoUnknown,  // refused: the echo is not yet known and it would pass as the answer
        Cancelled,
        Gone,
    };
    struct Reception {
        Outcome outcome = Outcome::Silent;
        size_t echoStripped = 0;   // echo bytes taken off the front
        bool echoDecided = false;  // this exchange settled the Auto echo question
        // Monotonic times (monoNowUs) the first byte of the echo and of the answer were read;
        // 0: none came.
        int64_t echoFirstUs = 0;
        int64_t answerFirstUs = 0;
    };
    const Reception& lastReception() const { return reception_; }
    // Monotonic time the last request's first byte went to the transmitter (0: none yet).
    int64_t lastSendStartUs() const { return sendStartUs_; }

  private:
    SerialPort(int fd, std::string path, bool reopenable);

    enum class Wait { Ready, Timeout, Failed, Cancelled };
    // Where the bytes received so far stand.
    enum class Step { WaitFirst, WaitKnown, WaitGap, Done };
    struct Judgement {
        Step step;
        size_t echo;    // bytes of echo at the front
        size_t length;  // Done: bytes of the answer after the echo
        Outcome outcome;
    };

    // Waits until `timeoutUs` after `nowUs` (the clock the caller has just read).
    Wait waitReadable(int64_t nowUs, int64_t timeoutUs);
    // Sleeps until `deadlineUs`; false when the stop request came first.
    bool pause(int64_t deadlineUs);
    bool cancelRequested() const;
    // Reads what is pending into buffer[0..size); stops short when the port failed (gone()).
    int readPending(uint8_t* buffer, int size);
    bool configure(int baud, int parity, int dataBits, int stopBits, int mode);
    void applyLowLatency();
    bool applyRs485(bool enable);
    bool isPty() const;
    void fail(const std::string& what, int err);
    void fail(const std::string& what);
    // The device went away: closes it and schedules the first reopen.
    void lose(const std::string& what, const std::string& reason);
    // Reopens the device once the back-off is over (waiting for it when `wait`); true when the
    // port is open.
    bool reopen(bool wait);
    void note(const std::string& text) const;

    bool awaitLateGuard();
    bool awaitQuietLine();
    Judgement judge(size_t count);
    Judgement finish(const Judgement& last);
    void settleGuard(Outcome outcome, int timeoutMs);
    void count(Outcome outcome);
    // Bytes that came outside a wait for an answer: stray, or a late answer.
    void noteStray(int bytes, int64_t atUs);
    // Adds the timing of the Receive that just ended to the report.
    void recordTiming(const Judgement& j);

    int fd_;
    std::string path_;
    bool reopenable_;
    std::string lastError_;
    std::string* sink_ = nullptr;
    LineReport ownReport_;
    LineReport* report_ = &ownReport_;
    FrameSink* trace_ = nullptr;
    int cancelFd_ = -1;

    // Setup's arguments, applied again on a reopen.
    bool setUp_ = false;
    int baud_ = 9600, parity_ = 0, dataBits_ = 8, stopBits_ = 1, mode_ = 0;
    bool rs485Active_ = false;
    bool lowLatencySet_ = false;    // we switched it on: switched off again on close
    bool lowLatencyNoted_ = false;  // the trace was told once that the device has none
    int64_t charTimeUs_;
    int64_t silenceUs_;
    int64_t lastTrafficUs_ = 0;  // end of the last byte seen on the line, either way
    int64_t nextReopenUs_ = 0;

    uint8_t lastSent_[MaxRequest] = {};
    size_t lastSentLength_ = 0;
    rtu::Expectation expectation_;  // what lastSent_ calls for
    // Bytes read but not handed out: what follows an answer in the same read, until Drain.
    std::array<uint8_t, 1024> rx_{};
    size_t rxLength_ = 0;
    Reception reception_;

    EchoMode echoSetting_ = EchoMode::Off;
    EchoMode echo_ = EchoMode::Off;  // as found: Auto until found out

    int guardMs_ = -1;
    bool guardArmed_ = false;
    bool guardSticky_ = false;  // stays armed for the first Send after the next good answer
    int64_t guardUs_ = 0;
    int64_t receiveEndUs_ = 0;

    // Timing of the exchange under way, for the line report.
    struct Chunk {
        int64_t atUs;  // when a read brought bytes
        size_t count;  // bytes received in all after it
    };
    static constexpr size_t MaxChunks = 64;
    std::array<Chunk, MaxChunks> chunks_{};
    size_t chunkCount_ = 0;
    bool inReceive_ = false;
    int64_t sendStartUs_ = 0;
    int64_t sendEndUs_ = 0;
    int strayBytes_ = 0;  // since the last request went out
    int64_t strayFirstUs_ = 0;
    int lateBytes_ = 0;  // before the request under way, and when the first of them came
    int64_t lateAfterUs_ = -1;
};

}  // namespace refhost
