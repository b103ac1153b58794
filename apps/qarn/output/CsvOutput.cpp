#include "CsvOutput.h"

#include <qarn/output/PollFormats.h>
#include "CsvField.h"

namespace qarn {

CsvOutput::CsvOutput(std::ostream& out, std::vector<PolledTag> tags)
    : out_(out), tags_(std::move(tags)) {
    out_ << "time,cycle,name,tag,value,error\n";
}

void CsvOutput::cycle(const CycleInfo& info, const std::vector<TagResult>& results,
                      const CycleSummary&) {
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

}  // namespace qarn
