#pragma once
// Poll cycles as JSON lines for logs: a time-stamped object per tag and cycle, values as JSON
// numbers, booleans, strings and lists, and a summary object per cycle.

#include <ostream>
#include <vector>

#include <qarn/scan/PollOutput.h>

namespace qarn {

class JsonlOutput final : public PollOutput {
  public:
    JsonlOutput(std::ostream& out, std::vector<PolledTag> tags);

    void cycle(const CycleInfo& info, const std::vector<TagResult>& results,
               const CycleSummary& summary) override;

  private:
    std::ostream& out_;
    std::vector<PolledTag> tags_;
};

}  // namespace qarn
