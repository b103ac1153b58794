#pragma once
// A serial port that plays a scripted peer. RecordingSerialPort records every Drain, Send and
// Receive with its arguments; each Receive here takes the next entry of a queue: a frame,
// silence or garbage. An empty queue is a silent line. Drain can be given stale bytes.

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "RecordingSerialPort.h"

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

class ScriptedSerialPort : public RecordingSerialPort {
  public:
    // The next Receive delivers these bytes (cut to the size offered).
    void answer(const Bytes& bytes) { script_.push_back({true, bytes}); }
    // The next Receive returns 0: nothing arrived in time.
    void silence() { script_.push_back({false, {}}); }
    // The next Receive delivers `count` bytes of noise that never pass the CRC check.
    void garbage(int count);
    // The next `rounds` Drain calls report stale bytes before the line is clean.
    void stale(int rounds) { staleRounds_ += rounds; }
    void clearScript() {
        script_.clear();
        staleRounds_ = 0;
    }
    int pendingAnswers() const { return static_cast<int>(script_.size()); }
    std::vector<Bytes> requests() const { return sentFrames(); }

  protected:
    int onDrain(uint8_t* buffer, int size) override;
    int onReceive(uint8_t* buffer, int size, int* received) override;

  private:
    struct Entry {
        bool delivers;
        Bytes bytes;
    };
    std::deque<Entry> script_;
    int staleRounds_ = 0;
};

}  // namespace qarntest
