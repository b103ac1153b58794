#pragma once
// Poll cycles as a table for people: a row per tag and a summary line; on a terminal each cycle
// redraws the one before in place.

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include <qarn/scan/PollOutput.h>

namespace qarn {

class TableOutput final : public PollOutput {
  public:
    // `live`: redraw in place; `width`: cut lines to this many columns (0: no limit).
    TableOutput(std::ostream& out, std::vector<PolledTag> tags, bool live, int width);

    void cycle(const CycleInfo& info, const std::vector<TagResult>& results,
               const CycleSummary& summary) override;

  private:
    std::string row(const std::string& name, const std::string& address,
                    const std::string& value) const;
    std::string clip(const std::string& line) const;

    std::ostream& out_;
    std::vector<PolledTag> tags_;
    bool live_;
    int width_;
    size_t nameWidth_ = 4;
    size_t addressWidth_ = 3;
    size_t drawn_ = 0;
};

}  // namespace qarn
