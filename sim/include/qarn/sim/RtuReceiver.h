#pragma once
// Splits the byte stream of a serial line into request frames. A frame ends when the line has
// been silent for 3.5 character times, or as soon as the bytes so far form a complete request
// with a good CRC (bare or in the ISMG wrapper). The second rule matters on ptys and USB
// adapters, which deliver bytes in bursts and make gaps meaningless.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace sim {

struct ReceivedFrame {
    std::vector<uint8_t> bytes;
    uint64_t firstByteUs = 0;  // arrival of the first and the last byte
    uint64_t lastByteUs = 0;
};

class RtuReceiver {
  public:
    explicit RtuReceiver(uint64_t silenceUs) : silenceUs_(silenceUs) {}

    // Bytes that arrived at `nowUs` (a monotonic clock in microseconds).
    void feed(const uint8_t* data, size_t length, uint64_t nowUs);
    // Ends the pending frame if the line has been silent long enough by `nowUs`.
    void poll(uint64_t nowUs);
    // When poll() should be called next; empty when no bytes are pending.
    std::optional<uint64_t> deadline() const;

    bool hasFrame() const { return !frames_.empty(); }
    ReceivedFrame takeFrame();

  private:
    void finish();

    uint64_t silenceUs_;
    ReceivedFrame pending_;
    std::deque<ReceivedFrame> frames_;
};

}  // namespace sim
