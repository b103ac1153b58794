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
};

class PollOutput {
  public:
    virtual ~PollOutput() = default;
    // `results` holds one entry per polled tag, in their order.
    virtual void cycle(const CycleInfo& info, const std::vector<TagResult>& results,
                       const CycleSummary& summary) = 0;
};

}  // namespace qarn
