#pragma once
// What the serial ports saw while the tool waited for answers, so that a failure can say more
// than the plug-in's "Communication error". The factory keeps one over a window the tool opens.

#include <cstddef>
#include <string>
#include <vector>

#include <qarn/refhost/ExchangeTiming.h>

namespace refhost {

struct LineReport {
    int attempts = 0;    // answers waited for
    int silent = 0;      // ... of them: nothing arrived within the time-out
    int incomplete = 0;  // bytes came, but fewer than the answer needs
    int crcErrors = 0;  // a frame of the answer's length, or one of no known length, with a bad CRC
    int foreign = 0;    // whole frames of another node or function, thrown away
    int lateBytes = 0;  // bytes thrown away before a request: stale, or late answers
    int echoOnly = 0;   // the echo of the request came back, no answer after it
    bool echoUndecided = false;  // an answer was refused since the echo was not yet known
    bool gone = false;           // the device is gone (and was not back when last tried)
    bool cancelled = false;      // a wait was cut short by the stop request
    int lastTimeoutMs = 0;       // the time-out of the last wait for an answer
    std::string osReason;        // what the operating system said when the device went

    // Every wait for an answer in the window, timed; the first MaxExchanges of them.
    static constexpr size_t MaxExchanges = 256;
    std::vector<ExchangeTiming> exchanges;
};

// The report in a few words for the tool to put in parentheses after the plug-in's own text, e.g.
// "no answer within 200 ms, 3 tries" or "device gone: hang-up"; empty when there is nothing to
// say. Parts are joined with "; ".
std::string describe(const LineReport& report);

}  // namespace refhost
