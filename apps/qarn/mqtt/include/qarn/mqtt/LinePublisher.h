#pragma once
// One line's tags on the broker: each tag's value under PREFIX/LINE/NAME, the line's health
// under PREFIX/LINE/$health every few seconds, and, when asked for, a Home Assistant discovery
// config per tag. Used from the line's own thread.

#include <chrono>
#include <string>
#include <vector>

#include <qarn/mqtt/MqttClient.h>
#include <qarn/mqtt/Payload.h>
#include <qarn/scan/PollOutput.h>

namespace qarn {

struct PublishedTag {
    PolledTag tag;
    TagScaling scaling;
};

class LinePublisher {
  public:
    LinePublisher(MqttClient& client, std::string line, std::vector<PublishedTag> tags,
                  double intervalMs);

    // One complete cycle: `results` holds one entry per tag, in their order.
    void cycle(const std::vector<TagResult>& results, const CycleSummary& summary);
    // Drops this line's tags from the broker's kept values (a line removed or changed).
    void withdraw();

    const std::string& line() const { return line_; }
    // PREFIX/LINE/NAME.
    std::string tagTopic(const std::string& name) const;

  private:
    void discover();

    MqttClient& client_;
    std::string line_;
    std::vector<PublishedTag> tags_;
    LineHealth health_;
    std::chrono::steady_clock::time_point nextHealth_;
};

}  // namespace qarn
