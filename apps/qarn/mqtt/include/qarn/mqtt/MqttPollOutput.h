#pragma once
// `qarn poll --mqtt`: each cycle goes to the broker as well as to the chosen output.

#include <memory>
#include <vector>

#include <qarn/mqtt/LinePublisher.h>
#include <qarn/scan/PollOutput.h>

namespace qarn {

class MqttPollOutput final : public PollOutput {
  public:
    // Connects `client` (in the background) and publishes `tags` under PREFIX/LINE/NAME.
    MqttPollOutput(MqttClient& client, const std::string& line, const std::vector<PolledTag>& tags,
                   double intervalMs, std::unique_ptr<PollOutput> inner);

    void cycle(const CycleInfo& info, const std::vector<TagResult>& results,
               const CycleSummary& summary) override;

  private:
    LinePublisher publisher_;
    std::unique_ptr<PollOutput> inner_;
};

}  // namespace qarn
