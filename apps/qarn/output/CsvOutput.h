#pragma once
// Poll cycles as CSV for logs: a header, then a time-stamped line per tag and cycle.

#include <ostream>
#include <vector>

#include <qarn/scan/PollOutput.h>

namespace qarn {

class CsvOutput final : public PollOutput {
  public:
    CsvOutput(std::ostream& out, std::vector<PolledTag> tags);

    void cycle(const CycleInfo& info, const std::vector<TagResult>& results,
               const CycleSummary& summary) override;

  private:
    std::ostream& out_;
    std::vector<PolledTag> tags_;
};

}  // namespace qarn
