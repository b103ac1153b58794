#include "JsonlOutput.h"

#include <cmath>

#include <qarn/output/PollFormats.h>
#include <qarn/output/ValueJson.h>

namespace qarn {

JsonlOutput::JsonlOutput(std::ostream& out, std::vector<PolledTag> tags)
    : out_(out), tags_(std::move(tags)) {}

void JsonlOutput::cycle(const CycleInfo& info, const std::vector<TagResult>& results,
                        const CycleSummary& summary) {
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
        out_ << jsonText(line) << "\n";
    }
    const double ms = std::chrono::duration<double, std::milli>(summary.elapsed).count();
    out_ << jsonText(nlohmann::json{{"time", isoTime(info.start)},
                                    {"cycle", info.number},
                                    {"summary",
                                     {{"requests", summary.requests},
                                      {"failed", summary.failedRequests},
                                      {"failed_tags", summary.failedTags},
                                      {"ms", std::round(ms * 10) / 10}}}})
         << "\n";
    out_.flush();
}

}  // namespace qarn
