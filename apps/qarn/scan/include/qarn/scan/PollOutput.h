#pragma once
// Where the polling loop hands its cycles: the tags it polls, named, and each cycle's results.
// The formats (a table, CSV, JSON lines) implement it one level up.

#include <chrono>
#include <string>
#include <vector>

#include <qarn/scan/Scan.h>
#include <qarn/toolkit/ValueCodec.h>

namespace qarn {

struct PolledTag {
    std::string name;
    std::string address;
    ValueType type;
};

struct CycleInfo {
    unsigned long number = 0;  // from 1
    unsigned long count = 0;   // cycles asked for; 0 for "until stopped"
    std::chrono::system_clock::time_point start;
    // The cycle took longer than the interval, so the next one starts late; `overruns` counts
    // such cycles so far, this one included. Never with an interval of 0 (back to back).
    bool overrun = false;
    unsigned long overruns = 0;
    std::chrono::milliseconds interval{0};
};

class PollOutput {
  public:
    virtual ~PollOutput() = default;
    // `results` holds one entry per polled tag, in their order.
    virtual void cycle(const CycleInfo& info, const std::vector<TagResult>& results,
                       const CycleSummary& summary) = 0;
};

}  // namespace qarn
