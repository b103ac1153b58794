#pragma once
// Where the ports report their traffic: the text trace, a capture file, a live traffic view. A
// port reports to one sink; FrameFanout hands each frame on to several.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace refhost {

struct TracedFrame {
    const char* direction;  // "TX", "RX", "ECHO" (our request coming back) or "DROP" (stray bytes)
    const uint8_t* data;
    size_t length;
    bool fromMaster;  // a request (TX, ECHO) rather than an answer or stray bytes
    // When the frame's first byte was seen on the line (for a request: when sending began).
    std::chrono::system_clock::time_point firstByte;
};

class FrameSink {
  public:
    virtual ~FrameSink() = default;
    virtual void frame(const TracedFrame& frame) = 0;
    // A line of its own: a time-out, the line settings, a guard wait.
    virtual void note(const std::string& text) = 0;
};

}  // namespace refhost
