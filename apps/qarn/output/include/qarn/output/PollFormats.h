#pragma once
// How `qarn poll` and `qarn demo` show their cycles: a table (redrawn in place on a terminal), or
// one line per tag and cycle with a time stamp for logs, as CSV or JSON lines.

#include <chrono>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <qarn/scan/PollOutput.h>
#include <qarn/scan/Scan.h>

namespace qarn {

enum class PollFormat { Table, Csv, Jsonl };

struct PollDisplay {
    PollFormat format = PollFormat::Table;
    bool live = false;  // redraw the table in place (a terminal)
    int width = 0;      // cut the table's lines to this many columns; 0: no limit
};

// "table", "csv" or "jsonl"; "auto" is the table on a terminal and CSV otherwise. Throws
// UsageError for any other name.
PollFormat pollFormat(const std::string& name, bool terminal);
// The format by name, shown on standard output: live and cut to its width when that is a
// terminal and the format the table.
PollDisplay pollDisplay(const std::string& formatName);

std::unique_ptr<PollOutput> makePollOutput(const PollDisplay& display, std::ostream& out,
                                           std::vector<PolledTag> tags);

// A tag's value as the table and CSV show it, or "error CODE: TEXT".
std::string resultText(const PolledTag& tag, const TagResult& result);
// UTC, milliseconds: 2024-05-01T12:00:00.123Z.
std::string isoTime(std::chrono::system_clock::time_point time);
// "12 requests, 1 failed, 3 tags in error, 41.2 ms"
std::string summaryText(const CycleSummary& summary);
// ", over the 500 ms interval (2 cycles so far)" for a cycle that overran; empty otherwise.
std::string overrunText(const CycleInfo& info);

}  // namespace qarn
