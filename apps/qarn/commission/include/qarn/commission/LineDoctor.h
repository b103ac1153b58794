#pragma once
// The timing check of a line: what the ports measured over many exchanges, summed up (latency,
// gaps inside answers, echo, USB bursts, late answers, failures) with the line options it calls
// for. A plain function over the samples, so that it needs no line to be tested and any front
// end (the tool's table, a web page) shows the same summary.

#include <map>
#include <optional>
#include <string>
#include <vector>

#include <qarn/refhost/ExchangeTiming.h>

namespace qarn {

// What the tool did besides the samples.
struct DoctorRun {
    int transactions = 0;  // plug-in reads made
    int failed = 0;        // ... of them failed
    bool stopped = false;  // cut short (Ctrl-C): the summary covers what was measured so far
};

struct LatencySummary {
    double min = 0, median = 0, p99 = 0, max = 0;  // ms
};

struct Recommendation {
    std::string option;  // "--timeout", "--delay", "--late-guard", "--echo"
    std::string value;   // as given on the command line, e.g. "150" or "on"; empty: none
    std::string reason;
};

struct DoctorReport {
    DoctorRun run;
    int exchanges = 0;  // waits for an answer
    int answers = 0;    // ... that brought a whole answer with a good CRC (exceptions too)
    int baud = 0;
    int gapRuleMs = 0;  // the gap after which a frame of unknown length ends at this baud rate
    // First answer byte after the end of the request; unset without any answer.
    std::optional<LatencySummary> latencyMs;
    double slowestCompleteMs = 0;  // end of the request to the last answer byte, worst case
    double maxGapMs = 0;           // largest pause inside an answer
    std::optional<bool> echo;      // unset: no exchange told
    int burstSamples = 0;          // answers long enough on the line to show bursts
    bool burst = false;            // answers came in USB bursts
    std::optional<double> burstMs;  // their interval, when it could be measured
    int lateAnswers = 0;           // answers that came after their wait had given up
    double latestLateMs = 0;       // ... the latest one's first byte after its request
    int timeoutMs = 0;             // the time-out the waits used (the largest)
    // Kind ("silent", "incomplete", "crc", "foreign", "unexpected", "echo_only",
    // "echo_unknown", "exception", "stray_bytes") to count; every kind is present.
    std::map<std::string, int> failures;
    std::vector<Recommendation> recommended;  // --timeout, --delay, --late-guard, --echo
    std::vector<std::string> warnings;
};

DoctorReport analyse(const std::vector<refhost::ExchangeTiming>& exchanges,
                     const DoctorRun& run = DoctorRun{});

// One line of the summary: what, its value, and a note.
struct DoctorRow {
    std::string item;
    std::string value;
    std::string note;
};
// The summary as rows for a table or CSV: the measurements, then the recommendations.
std::vector<DoctorRow> doctorRows(const DoctorReport& report);
// The summary as one JSON object: {"latency_ms": {"min", "median", "p99", "max"},
// "max_gap_ms", "echo", "burst_ms", "failures": {...}, "recommended": {"timeout": {"value",
// "reason"}, ...}} and the other counts; unknown values are null.
std::string doctorJson(const DoctorReport& report);

}  // namespace qarn
