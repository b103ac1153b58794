#pragma once
// Serial port double. Records every call in order, with its arguments and a stamp shared by all
// doubles; each Receive takes the next entry of a queue: a frame or silence. An empty queue is a
// quiet line. Drain can be given stale bytes, and Setup can be made to fail.

#include <algorithm>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "HostService.h"
#include "ISerialPort.h"

namespace qarntest {

using Bytes = std::vector<uint8_t>;

// "01 03 00 0a" -> bytes; blanks are ignored. Throws on a bad digit.
Bytes hexBytes(const std::string& hex);
// Upper-case hexadecimal, one blank between bytes.
std::string toHex(const Bytes& bytes);
// The frame with its Modbus CRC appended, low byte first.
Bytes withCrc(Bytes frame);
// 0x0A, the frame, 0x0D.
Bytes ismgWrapped(const Bytes& frame);

class ScriptedSerialPort : public HostService<ISerialPort> {
  public:
    enum class Op { Setup, Drain, Send, Receive };
    struct Call {
        Op op;
        unsigned long stamp;
        int setup[5];        // Setup: baud, parity, data bits, stop bits, mode
        Bytes bytes;         // Send: the frame
        int size;            // Drain and Receive: the size offered; Send: the length
        int timeoutMs;       // Receive only
        int interCharMs;     // Receive only
        int receivedPreset;  // Receive only: the caller's count before the call
        int flags;
    };

    ScriptedSerialPort() : HostService("ISerialPort", "TestSerialPort", 1) {}

    int Setup(int baud, int parity, int dataBits, int stopBits, int mode) override {
        record({Op::Setup, 0, {baud, parity, dataBits, stopBits, mode}, {}, 0, 0, 0, -1, 0});
        return setupFails_ ? 0 : 1;
    }
    int Drain(uint8_t*, int size, int flags) override {
        record({Op::Drain, 0, {}, {}, size, 0, 0, -1, flags});
        if (staleRounds_ == 0) {
            return 0;
        }
        --staleRounds_;
        return 1;
    }
    int Send(const uint8_t* frame, int length, int flags) override {
        const Bytes bytes = frame != nullptr && length > 0 ? Bytes(frame, frame + length) : Bytes();
        record({Op::Send, 0, {}, bytes, length, 0, 0, -1, flags});
        return length;
    }
    int Receive(uint8_t* buffer, int size, int timeoutMs, int interCharMs, int* received,
                int flags) override;

    // The next Receive delivers these bytes (cut to the size offered).
    void answer(const Bytes& bytes) { script_.push_back({true, bytes}); }
    // The next Receive returns 0: nothing arrived in time.
    void silence() { script_.push_back({false, {}}); }
    // The next `rounds` Drain calls report stale bytes before the line is clean.
    void stale(int rounds) { staleRounds_ += rounds; }
    void clearScript() {
        script_.clear();
        staleRounds_ = 0;
    }
    int pendingAnswers() const { return static_cast<int>(script_.size()); }
    void setSetupFails(bool fails) { setupFails_ = fails; }

    const std::vector<Call>& calls() const { return calls_; }
    // The frames sent, in order.
    std::vector<Bytes> requests() const;
    int count(Op op) const {
        return static_cast<int>(std::count_if(calls_.begin(), calls_.end(),
                                              [op](const Call& call) { return call.op == op; }));
    }
    void clearCalls() { calls_.clear(); }

  private:
    void record(Call call) {
        call.stamp = nextCallStamp();
        calls_.push_back(std::move(call));
    }

    struct Entry {
        bool delivers;
        Bytes bytes;
    };
    std::deque<Entry> script_;
    int staleRounds_ = 0;
    bool setupFails_ = false;
    std::vector<Call> calls_;
};

// The serial factory's own port: the same double with nothing scripted.
using RecordingSerialPort = ScriptedSerialPort;

}  // namespace qarntest
