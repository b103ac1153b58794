#include <qarn/mqtt/LinePublisher.h>

#include <nlohmann/json.hpp>

namespace qarn {

LinePublisher::LinePublisher(MqttClient& client, std::string line, std::vector<PublishedTag> tags,
                             double intervalMs)
    : client_(client),
      line_(std::move(line)),
      tags_(std::move(tags)),
      nextHealth_(std::chrono::steady_clock::now()) {
    health_.tags = tags_.size();
    health_.intervalMs = intervalMs;
    if (client_.settings().discovery) {
        discover();
    }
}

std::string LinePublisher::tagTopic(const std::string& name) const {
    return client_.topic(line_ + "/" + name);
}

void LinePublisher::cycle(const std::vector<TagResult>& results, const CycleSummary& summary) {
    size_t bad = 0;
    for (size_t i = 0; i < results.size() && i < tags_.size(); ++i) {
        const TagResult& r = results[i];
        if (!r.ok) {
            ++bad;
            health_.lastError = tags_[i].tag.name + ": error " + std::to_string(r.code) + ": " +
                                r.text;
        }
        client_.publishValue(tagTopic(tags_[i].tag.name),
                             tagPayload(tags_[i].tag.type, r, tags_[i].scaling));
    }
    ++health_.cycles;
    health_.failedCycles += bad != 0 ? 1 : 0;
    health_.requests += summary.requests;
    health_.failedRequests += summary.failedRequests;
    health_.badTags = bad;
    health_.lastCycleMs =
        std::chrono::duration<double, std::milli>(summary.elapsed).count();
    const auto now = std::chrono::steady_clock::now();
    if (now >= nextHealth_) {
        client_.publishEvent(client_.topic(line_ + "/$health"),
                             healthPayload(health_, std::chrono::system_clock::now()));
        nextHealth_ = now + std::chrono::seconds(client_.settings().healthSeconds);
    }
}

void LinePublisher::withdraw() {
    for (const PublishedTag& t : tags_) {
        client_.forget(tagTopic(t.tag.name));
    }
}

void LinePublisher::discover() {
    // Home Assistant finds sensors by retained configs; ids may hold letters, digits, _ and -.
    auto id = [](std::string text) {
        for (char& c : text) {
            const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                              (c >= '0' && c <= '9') || c == '_' || c == '-';
            c = keep ? c : '_';
        }
        return text;
    };
    for (const PublishedTag& t : tags_) {
        const std::string object = id(client_.settings().url.prefix + "_" + line_ + "_" +
                                      t.tag.name);
        nlohmann::json config;
        config["name"] = line_ + " " + t.tag.name;
        config["unique_id"] = "qarn_" + object;
        config["state_topic"] = tagTopic(t.tag.name);
        config["value_template"] = "{{ value_json.value }}";
        config["availability_topic"] = client_.topic("status");
        if (!t.scaling.unit.empty()) {
            config["unit_of_measurement"] = t.scaling.unit;
        }
        const std::string text =
            config.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        client_.publishValue("homeassistant/sensor/" + object + "/config", Payload{text, text});
    }
}

}  // namespace qarn
