#include <qarn/scan/Scan.h>

#include <algorithm>

#include <qarn/host/ErrorCodes.h>
#include <qarn/host/IProtocol.h>
#include <qarn/host/ITag.h>

namespace qarn {

namespace {

// What the protocol itself reports when a raw image does not convert.
constexpr const char* ConversionErrorText = "read conversion error";

}  // namespace

Scan::Scan(IProtocol4& protocol, std::vector<const ITag*> tags, ScanHooks hooks)
    : protocol_(protocol),
      tags_(std::move(tags)),
      hooks_(std::move(hooks)),
      plan_(planScan(protocol_, tags_)),
      results_(tags_.size()) {
    if (hooks_.answeredLocally) {
        for (ScanGroup& group : plan_) {
            group.onLine = !hooks_.answeredLocally(*tags_[group.tags.front()]);
        }
    }
}

size_t Scan::lineRequests() const {
    return static_cast<size_t>(
        std::count_if(plan_.begin(), plan_.end(), [](const ScanGroup& g) { return g.onLine; }));
}

CycleSummary Scan::runCycle() {
    const auto start = std::chrono::steady_clock::now();
    CycleSummary summary;
    for (const ScanGroup& group : plan_) {
        if (hooks_.stopRequested && hooks_.stopRequested()) {
            summary.elapsed = std::chrono::steady_clock::now() - start;
            return summary;
        }
        const bool ok = readGroup(group);
        // A request that the stop request cut short failed for that alone: no result to show.
        if (!ok && hooks_.stopRequested && hooks_.stopRequested()) {
            summary.elapsed = std::chrono::steady_clock::now() - start;
            return summary;
        }
        summary.requests += group.onLine ? 1 : 0;
        summary.failedRequests += ok ? 0 : 1;
    }
    summary.failedTags = static_cast<size_t>(
        std::count_if(results_.begin(), results_.end(), [](const TagResult& r) { return !r.ok; }));
    summary.complete = true;
    summary.elapsed = std::chrono::steady_clock::now() - start;
    return summary;
}

bool Scan::readGroup(const ScanGroup& group) {
    const ITag* leader = tags_[group.tags.front()];
    block_.assign(static_cast<size_t>(std::max(group.length, 1)), 0);
    if (hooks_.beforeRead) {
        hooks_.beforeRead();
    }
    if (!protocol_.ReadBlock(leader, block_.data(), group.length)) {
        const char* own = protocol_.GetLastErrorString();
        fail(group, protocol_.GetLastError(),
             hooks_.errorText ? hooks_.errorText() : std::string(own != nullptr ? own : ""));
        return false;
    }
    const auto now = std::chrono::system_clock::now();
    for (const size_t index : group.tags) {
        const ITag* tag = tags_[index];
        TagResult& r = results_[index];
        r.time = now;
        r.value.assign(static_cast<size_t>(std::max(tag->GetVarLength(), 1)), 0);
        const uint8_t* raw = block_.data() + (tag->GetByteOffset() - group.byteOffset);
        r.ok = tag->ConvertVariable(raw, r.value.data(), false);
        if (r.ok) {
            r.code = 0;
            r.text.clear();
        } else {
            r.value.clear();
            r.code = ErrorCode::Conversion;
            r.text = ConversionErrorText;
        }
    }
    return true;
}

void Scan::fail(const ScanGroup& group, int code, const std::string& text) {
    const auto now = std::chrono::system_clock::now();
    for (const size_t index : group.tags) {
        TagResult& r = results_[index];
        r.ok = false;
        r.value.clear();
        r.code = code;
        r.text = text;
        r.time = now;
    }
}

}  // namespace qarn
