#include "TableOutput.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include <qarn/output/PollFormats.h>

namespace qarn {

namespace {

std::string cycleText(const CycleInfo& info) {
    std::string text = "cycle " + std::to_string(info.number);
    if (info.count != 0) {
        text += "/" + std::to_string(info.count);
    }
    return text;
}

// Local time of day, for people watching: 14:03:07.250.
std::string clockTime(std::chrono::system_clock::time_point time) {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[40];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<int>(ms % 1000));
    return text;
}

}  // namespace

TableOutput::TableOutput(std::ostream& out, std::vector<PolledTag> tags, bool live, int width)
    : out_(out), tags_(std::move(tags)), live_(live), width_(width) {
    for (const PolledTag& t : tags_) {
        nameWidth_ = std::max(nameWidth_, t.name.size());
        addressWidth_ = std::max(addressWidth_, t.address.size());
    }
}

void TableOutput::cycle(const CycleInfo& info, const std::vector<TagResult>& results,
                        const CycleSummary& summary) {
    std::vector<std::string> lines;
    lines.push_back(row("NAME", "TAG", "VALUE"));
    for (size_t i = 0; i < tags_.size(); ++i) {
        // A tag named by its address shows it once.
        const std::string& address = tags_[i].name == tags_[i].address ? "" : tags_[i].address;
        lines.push_back(row(tags_[i].name, address, resultText(tags_[i], results[i])));
    }
    lines.push_back(cycleText(info) + ": " + summaryText(summary) + overrunText(info) + ", at " +
                    clockTime(info.start));
    if (live_ && drawn_ > 0) {
        // Back to the first line of the previous table, and clear everything below.
        out_ << "\x1b[" << drawn_ << "F\x1b[J";
    }
    for (const std::string& line : lines) {
        out_ << clip(line) << "\n";
    }
    if (!live_) {
        out_ << "\n";
    }
    out_.flush();
    drawn_ = lines.size();
}

std::string TableOutput::row(const std::string& name, const std::string& address,
                             const std::string& value) const {
    std::string line = name;
    line.resize(nameWidth_ + 2, ' ');
    line += address;
    line.resize(nameWidth_ + 2 + addressWidth_ + 2, ' ');
    return line + value;
}

// A line longer than the terminal wraps, and the redraw would then miss it.
std::string TableOutput::clip(const std::string& line) const {
    if (width_ <= 1 || line.size() < static_cast<size_t>(width_)) {
        return line;
    }
    return line.substr(0, static_cast<size_t>(width_ - 1));
}

}  // namespace qarn
