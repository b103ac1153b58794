#pragma once
// Serial port double. Records every call with its arguments and a stamp shared by all doubles
// (without allocating once reserve() made room); each Receive takes the next answer of a queue, a
// frame or silence (an empty queue is silence). Drain can report stale bytes, Setup can fail.

#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include <qarn/host/ISerialPort.h>
#include "HostService.h"

namespace qarntest {

using Bytes = std::vector<uint8_t>;

// "01 03 00 0a" -> bytes (blanks ignored, throws on a bad digit) and back in upper case; a frame
// with its Modbus CRC appended (low byte first); a frame in the ISMG wrapper 0x0A ... 0x0D.
Bytes hexBytes(const std::string& hex);
std::string toHex(const Bytes& bytes);
Bytes withCrc(Bytes frame);
Bytes ismgWrapped(const Bytes& frame);

class ScriptedSerialPort : public HostService<ISerialPort> {
  public:
    enum class Op { Setup, Drain, Send, Receive };
    struct Call {
        Op op;
        unsigned long stamp;
        // Setup: baud, parity, data bits, stop bits, mode; Drain and Send: size, flags;
        // Receive: size, time-out, character time, the caller's count before the call, flags.
        std::array<int, 5> args;
        std::array<uint8_t, 264> frame;  // Send: the frame (args[0] bytes)
    };

    ScriptedSerialPort() : HostService("ISerialPort", "TestSerialPort", 1) {}

    int Setup(int baud, int parity, int dataBits, int stopBits, int mode) override {
        record(Op::Setup, {baud, parity, dataBits, stopBits, mode});
        return setupFails ? 0 : 1;
    }
    int Drain(uint8_t*, int size, int flags) override {
        record(Op::Drain, {size, flags});
        const int stale = staleRounds_ > 0 ? 1 : 0;
        staleRounds_ -= stale;
        return stale;
    }
    int Send(const uint8_t* frame, int length, int flags) override {
        record(Op::Send, {length, flags}, frame);
        return length;
    }
    int Receive(uint8_t* buffer, int size, int timeoutMs, int interCharMs, int* received,
                int flags) override {
        record(Op::Receive, {size, timeoutMs, interCharMs, *received, flags});
        if (script_.empty()) {
            return 0;
        }
        static const Bytes none;
        const std::optional<Bytes> entry = std::move(script_.front());
        script_.pop_front();
        const Bytes& bytes = entry.has_value() ? *entry : none;
        *received = std::min(static_cast<int>(bytes.size()), size);
        std::copy_n(bytes.begin(), *received, buffer);
        return entry.has_value() ? 1 : 0;
    }

    // The next Receive delivers these bytes (cut to the size offered).
    void answer(const Bytes& bytes) { script_.emplace_back(bytes); }
    // The next Receive returns 0: nothing arrived in time.
    void silence() { script_.emplace_back(std::nullopt); }
    // The next `rounds` Drain calls report stale bytes before the line is clean.
    void stale(int rounds) { staleRounds_ += rounds; }
    void clearScript() {
        script_.clear();
        staleRounds_ = 0;
    }
    int pendingAnswers() const { return static_cast<int>(script_.size()); }
    const std::vector<Call>& calls() const { return calls_; }
    void clearCalls() { calls_.clear(); }
    void reserve(size_t calls) { calls_.reserve(calls); }
    // The frames sent, in order.
    std::vector<Bytes> requests() const {
        std::vector<Bytes> frames;
        for (const Call& call : calls_) {
            if (call.op == Op::Send) {
                frames.emplace_back(call.frame.begin(),
                                    call.frame.begin() + std::clamp(call.args[0], 0, 264));
            }
        }
        return frames;
    }
    int count(Op op) const {
        return static_cast<int>(std::count_if(calls_.begin(), calls_.end(),
                                              [op](const Call& call) { return call.op == op; }));
    }

    bool setupFails = false;

  private:
    void record(Op op, std::array<int, 5> args, const uint8_t* frame = nullptr) {
        calls_.push_back({op, nextCallStamp(), args, {}});
        if (frame != nullptr) {
            std::copy_n(frame, std::clamp(args[0], 0, 264), calls_.back().frame.begin());
        }
    }

    std::deque<std::optional<Bytes>> script_;  // nothing: silence
    int staleRounds_ = 0;
    std::vector<Call> calls_;
};

}  // namespace qarntest
