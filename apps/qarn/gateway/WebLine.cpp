#include <qarn/gateway/WebLine.h>

#include <algorithm>

#include <qarn/mqtt/Payload.h>
#include <qarn/toolkit/ValueCodec.h>
#include <qarn/web/FailureKind.h>

namespace qarn {

std::vector<web::TagInfo> webTags(const LineScan& scan, const GatewayLine& line) {
    std::vector<web::TagInfo> tags;
    for (const PolledTag& t : scan.tags()) {
        tags.push_back(web::TagInfo{t.name, t.address, typeName(t.type), line.allowWrites});
    }
    return tags;
}

web::CycleUpdate webUpdate(const LineScan& scan, const GatewayLine& line,
                           const std::vector<TagResult>& results, const CycleSummary& summary) {
    web::CycleUpdate update;
    update.requests = summary.requests;
    update.seconds = std::chrono::duration<double>(summary.elapsed).count();
    for (size_t i = 0; i < results.size() && i < scan.tags().size(); ++i) {
        const TagResult& result = results[i];
        web::TagReadingState r;
        r.read = true;
        r.ok = result.ok;
        r.timeMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                       result.time.time_since_epoch())
                       .count();
        if (result.ok) {
            // The same value the broker gets.
            r.value = nlohmann::json::parse(
                tagPayload(scan.tags()[i].type, result, line.tags[i].scaling).subject)["value"];
            if (r.value.is_number()) {
                r.number = r.value.get<double>();
            } else if (r.value.is_boolean()) {
                r.number = r.value.get<bool>() ? 1.0 : 0.0;
            }
        } else {
            r.code = result.code;
            r.text = result.text;
        }
        update.readings.push_back(std::move(r));
    }
    // A failed request marks every tag of its group alike.
    for (const ScanGroup& group : scan.scan().plan()) {
        if (!group.onLine || group.tags.empty() ||
            update.failedKinds.size() >= summary.failedRequests || group.tags.front() >= results.size()) {
            continue;
        }
        const TagResult& first = results[group.tags.front()];
        const bool failed = std::all_of(group.tags.begin(), group.tags.end(), [&](size_t t) {
            return t < results.size() && !results[t].ok && results[t].code == first.code &&
                   results[t].text == first.text;
        });
        if (failed) {
            update.failedKinds.push_back(web::failureKind(first.code, first.text));
            if (update.lineProblem.empty()) {
                update.lineProblem = "error " + std::to_string(first.code) + ": " + first.text;
            }
        }
    }
    update.failedKinds.resize(summary.failedRequests, "other");
    update.up = summary.requests == 0 || summary.failedRequests < summary.requests;
    return update;
}

}  // namespace qarn
