#include "PollOutput.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>

#include "Command.h"
#include "ValueCodec.h"

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

class TableOutput final : public PollOutput {
  public:
    TableOutput(std::ostream& out, std::vector<PolledTag> tags, bool live, int width)
        : out_(out), tags_(std::move(tags)), live_(live), width_(width) {
        for (const PolledTag& t : tags_) {
            nameWidth_ = std::max(nameWidth_, t.name.size());
            addressWidth_ = std::max(addressWidth_, t.address.size());
        }
    }

    void cycle(const CycleInfo& info, const std::vector<TagResult>& results,
               const CycleSummary& summary) override {
        std::vector<std::string> lines;
        lines.push_back(row("NAME", "TAG", "VALUE"));
        for (size_t i = 0; i < tags_.size(); ++i) {
            // A tag named by its address shows it once.
            const std::string& address = tags_[i].name == tags_[i].address ? "" : tags_[i].address;
            lines.push_back(row(tags_[i].name, address, resultText(tags_[i], results[i])));
        }
        lines.push_back(cycleText(info) + ": " + summaryText(summary) + ", at " +
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

  private:
    std::string row(const std::string& name, const std::string& address,
                    const std::string& value) const {
        std::string line = name;
        line.resize(nameWidth_ + 2, ' ');
        line += address;
        line.resize(nameWidth_ + 2 + addressWidth_ + 2, ' ');
        return line + value;
    }
    // A line longer than the terminal wraps, and the redraw would then miss it.
    std::string clip(const std::string& line) const {
        if (width_ <= 1 || line.size() < static_cast<size_t>(width_)) {
            return line;
        }
        return line.substr(0, static_cast<size_t>(width_ - 1));
    }

    std::ostream& out_;
    std::vector<PolledTag> tags_;
    bool live_;
    int width_;
    size_t nameWidth_ = 4;
    size_t addressWidth_ = 3;
    size_t drawn_ = 0;
};

class CsvOutput final : public PollOutput {
  public:
    CsvOutput(std::ostream& out, std::vector<PolledTag> tags) : out_(out), tags_(std::move(tags)) {
        out_ << "time,cycle,name,tag,value,error\n";
    }

    void cycle(const CycleInfo& info, const std::vector<TagResult>& results,
               const CycleSummary&) override {
        for (size_t i = 0; i < tags_.size(); ++i) {
            const TagResult& r = results[i];
            out_ << isoTime(r.time) << "," << info.number << "," << csvField(tags_[i].name) << ","
                 << csvField(tags_[i].address) << ",";
            if (r.ok) {
                out_ << csvField(resultText(tags_[i], r)) << ",\n";
            } else {
                out_ << "," << csvField(resultText(tags_[i], r)) << "\n";
            }
        }
        out_.flush();
    }

  private:
    std::ostream& out_;
    std::vector<PolledTag> tags_;
};

class JsonlOutput final : public PollOutput {
  public:
    JsonlOutput(std::ostream& out, std::vector<PolledTag> tags)
        : out_(out), tags_(std::move(tags)) {}

    void cycle(const CycleInfo& info, const std::vector<TagResult>& results,
               const CycleSummary& summary) override {
        for (size_t i = 0; i < tags_.size(); ++i) {
            const TagResult& r = results[i];
            nlohmann::json line{{"time", isoTime(r.time)},
                                {"cycle", info.number},
                                {"name", tags_[i].name},
                                {"tag", tags_[i].address}};
            if (r.ok) {
                line["value"] = toJson(decodeValue(tags_[i].type, r.value.data(), r.value.size()));
            } else {
                line["error"] = {{"code", r.code}, {"text", r.text}};
            }
            write(line);
        }
        const double ms = std::chrono::duration<double, std::milli>(summary.elapsed).count();
        write(nlohmann::json{{"time", isoTime(info.start)},
                             {"cycle", info.number},
                             {"summary",
                              {{"requests", summary.requests},
                               {"failed", summary.failedRequests},
                               {"failed_tags", summary.failedTags},
                               {"ms", std::round(ms * 10) / 10}}}});
        out_.flush();
    }

  private:
    void write(const nlohmann::json& line) {
        // Strings read from a device need not be valid UTF-8.
        out_ << line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    }

    std::ostream& out_;
    std::vector<PolledTag> tags_;
};

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

std::unique_ptr<PollOutput> makePollOutput(PollFormat format, std::ostream& out,
                                           std::vector<PolledTag> tags, bool live, int width) {
    switch (format) {
        case PollFormat::Csv:
            return std::make_unique<CsvOutput>(out, std::move(tags));
        case PollFormat::Jsonl:
            return std::make_unique<JsonlOutput>(out, std::move(tags));
        case PollFormat::Table:
            break;
    }
    return std::make_unique<TableOutput>(out, std::move(tags), live, width);
}

std::string resultText(const PolledTag& tag, const TagResult& result) {
    if (result.ok) {
        return toText(decodeValue(tag.type, result.value.data(), result.value.size()), false);
    }
    if (result.code == 0 && result.text.empty()) {
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

}  // namespace qarn
