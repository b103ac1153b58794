#include <qarn/mqtt/MqttPollOutput.h>

namespace qarn {

namespace {

std::vector<PublishedTag> unscaled(const std::vector<PolledTag>& tags) {
    std::vector<PublishedTag> out;
    for (const PolledTag& t : tags) {
        out.push_back(PublishedTag{t, TagScaling{}});
    }
    return out;
}

}  // namespace

MqttPollOutput::MqttPollOutput(MqttClient& client, const std::string& line,
                               const std::vector<PolledTag>& tags, double intervalMs,
                               std::unique_ptr<PollOutput> inner)
    : publisher_(client, line, unscaled(tags), intervalMs), inner_(std::move(inner)) {
    // Poll takes no writes: nothing to subscribe to.
    client.start({}, nullptr);
}

void MqttPollOutput::cycle(const CycleInfo& info, const std::vector<TagResult>& results,
                           const CycleSummary& summary) {
    publisher_.cycle(results, summary);
    inner_->cycle(info, results, summary);
}

}  // namespace qarn
