#include <qarn/output/PollFormats.h>

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

#include <qarn/toolkit/Errors.h>
#include <qarn/toolkit/ValueCodec.h>
#include "CsvOutput.h"
#include "JsonlOutput.h"
#include "TableOutput.h"

namespace qarn {

namespace {

// The columns of the terminal on standard output; 0 when it is none.
int terminalWidth() {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) {
        return 0;
    }
    return size.ws_col;
}

}  // namespace

PollFormat pollFormat(const std::string& name, bool terminal) {
    if (name == "table" || (name == "auto" && terminal)) {
        return PollFormat::Table;
    }
    if (name == "csv" || name == "auto") {
        return PollFormat::Csv;
    }
    if (name == "jsonl") {
        return PollFormat::Jsonl;
    }
    throw UsageError("--format must be auto, table, csv or jsonl, not '" + name + "'");
}

PollDisplay pollDisplay(const std::string& formatName) {
    const bool terminal = isatty(STDOUT_FILENO) != 0;
    PollDisplay display;
    display.format = pollFormat(formatName, terminal);
    display.live = terminal && display.format == PollFormat::Table;
    display.width = terminal ? terminalWidth() : 0;
    return display;
}

std::unique_ptr<PollOutput> makePollOutput(const PollDisplay& display, std::ostream& out,
                                           std::vector<PolledTag> tags) {
    switch (display.format) {
        case PollFormat::Csv:
            return std::make_unique<CsvOutput>(out, std::move(tags));
        case PollFormat::Jsonl:
            return std::make_unique<JsonlOutput>(out, std::move(tags));
        case PollFormat::Table:
            break;
    }
    return std::make_unique<TableOutput>(out, std::move(tags), display.live, display.width);
}

std::string resultText(const PolledTag& tag, const TagResult& result) {
    if (result.ok) {
        return toText(decodeValue(tag.type, result.value.data(), result.value.size()), false);
    }
    if (result.time == std::chrono::system_clock::time_point{}) {
        return "-";  // not read yet
    }
    return "error " + std::to_string(result.code) + ": " + result.text;
}

std::string isoTime(std::chrono::system_clock::time_point time) {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(ms % 1000));
    return text;
}

std::string summaryText(const CycleSummary& summary) {
    char ms[32];
    std::snprintf(ms, sizeof ms, "%.1f ms",
                  std::chrono::duration<double, std::milli>(summary.elapsed).count());
    std::string text = std::to_string(summary.requests) +
                       (summary.requests == 1 ? " request, " : " requests, ") +
                       std::to_string(summary.failedRequests) + " failed";
    if (summary.failedTags != 0) {
        text += ", " + std::to_string(summary.failedTags) +
                (summary.failedTags == 1 ? " tag in error" : " tags in error");
    }
    return text + ", " + ms;
}

std::string overrunText(const CycleInfo& info) {
    if (!info.overrun) {
        return std::string();
    }
    return ", over the " + std::to_string(info.interval.count()) + " ms interval (" +
           std::to_string(info.overruns) + (info.overruns == 1 ? " cycle" : " cycles") + " so far)";
}

}  // namespace qarn
