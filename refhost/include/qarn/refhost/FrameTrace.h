#pragma once
// Traffic trace: one line per frame with a microsecond time stamp, the direction, the bytes in
// hex and a decoded summary.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include <qarn/refhost/FrameSink.h>

namespace refhost {

class FrameTrace final : public FrameSink {
  public:
    // Writes to `out` (not owned, flushed after every line).
    explicit FrameTrace(std::FILE* out) : out_(out) {}

    // Stamped with the time the frame's first byte was seen.
    void frame(const TracedFrame& frame) override;
    // A frame the master sent ("TX"), received ("RX") or threw away as stray ("DROP"), stamped
    // now.
    void frame(const char* direction, const uint8_t* data, size_t length, bool fromMaster);
    // A line of its own, e.g. a time-out or the line settings.
    void note(const std::string& text) override;

    // The decoded summary of a frame as it travels (bare or wrapped): node, function, address,
    // count or value, byte count, exception code and name, CRC good or bad, ISMG wrapper.
    static std::string describe(const uint8_t* data, size_t length, bool fromMaster);
    static std::string hex(const uint8_t* data, size_t length);

  private:
    void line(std::chrono::system_clock::time_point at, const std::string& text);

    std::FILE* out_;
};

}  // namespace refhost
