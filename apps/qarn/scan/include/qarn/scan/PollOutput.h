#pragma once
// How `qarn poll` shows its cycles: a table (refreshed in place on a terminal), or one line per
// tag and cycle with a time stamp for logs, as CSV or JSON lines.

#include <chrono>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "Scan.h"
#include "ValueCodec.h"

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
    virtual void cycle(const CycleInfo& info, const std::vector<TagResult>& results,
                       const CycleSummary& summary) = 0;
};

enum class PollFormat { Table, Csv, Jsonl };

// "table", "csv" or "jsonl"; "auto" is the table on a terminal and CSV otherwise.
PollFormat pollFormat(const std::string& name, bool terminal);

// `live`: redraw the table in place (a terminal); `width`: cut its lines to this many columns
// (0: no limit).
std::unique_ptr<PollOutput> makePollOutput(PollFormat format, std::ostream& out,
                                           std::vector<PolledTag> tags, bool live, int width);

// A tag's value as the table and CSV show it, or "error CODE: TEXT".
std::string resultText(const PolledTag& tag, const TagResult& result);
// UTC, milliseconds: 2024-05-01T12:00:00.123Z.
std::string isoTime(std::chrono::system_clock::time_point time);
// "12 requests, 1 failed, 3 tags in error, 41.2 ms"
std::string summaryText(const CycleSummary& summary);

}  // namespace qarn
