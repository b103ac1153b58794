#pragma once
// How one wait for an answer went on the line, timed: what a tool needs to judge a line's
// time-outs, gaps, echo and USB bursts. The port adds one per Receive to its line report.

#include <cstdint>

namespace refhost {

struct ExchangeTiming {
    enum class Kind {
        Answer,       // the whole answer, good CRC
        Exception,    // ... and it is an exception answer
        Silent,       // nothing came within the time-out
        Incomplete,   // fewer bytes than the answer needs
        Damaged,      // bad CRC
        Foreign,      // a frame of another node or function
        Unexpected,   // bytes of no known length
        EchoOnly,     // our request came back, no answer after it
        EchoUnknown,  // refused: echo or answer could not be told apart
        Cancelled,    // the stop request came
        Gone,         // the device went away
    };
    Kind kind = Kind::Silent;
    uint8_t node = 0;      // of the request
    uint8_t function = 0;  // of the request
    int baud = 0;          // line settings at the time
    int64_t charUs = 0;    // one character on the line, start to stop bit
    int timeoutMs = 0;     // the wait's time-out
    int answerBytes = 0;   // answer bytes after the echo (what was judged)

    // Latency is counted from the end of the request (its last byte out of the transmitter) to
    // the first byte of the answer, so it holds the device's turnaround and the 3.5 characters
    // of silence it waits for, but not the answer's own line time. -1: no answer byte came.
    int64_t latencyUs = -1;
    // From the end of the request to the last byte of the answer (what the time-out must cover).
    int64_t completeUs = -1;
    int64_t maxGapUs = 0;   // largest pause between two reads of the answer's bytes
    int chunks = 0;         // reads that brought the answer's bytes
    int64_t firstByteAtUs = 0;  // monotonic time of the answer's first byte (0: none)
    bool echo = false;      // the request came back before the answer

    // Bytes thrown away between the previous wait and this request (stale bytes, a late answer),
    // and when the first of them came, counted from the end of the previous request (-1: none).
    int lateBytes = 0;
    int64_t lateAfterUs = -1;
};

}  // namespace refhost
