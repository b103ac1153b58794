#pragma once
// Runs a planned scan: one ReadBlock per group, each tag's raw image cut out of its block and
// turned into the host value with ConvertVariable. A failed request marks the tags of its group
// with the protocol's error and the scan goes on with the next group.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <qarn/scan/ScanPlanner.h>

class IProtocol4;
class ITag;

namespace qarn {

// What the host around the protocol adds to a scan; every hook may be left empty.
struct ScanHooks {
    // Called before each request, e.g. to forget what the port said about the one before.
    std::function<void()> beforeRead;
    // The text of a failed request; empty hook: the protocol's last error text.
    std::function<std::string()> errorText;
    // Polled between requests and after a failed one; true abandons the cycle.
    std::function<bool()> stopRequested;
    // Whether the plug-in answers this tag's requests from its own tables, without the line.
    // The host's interfaces do not tell; only the request counts depend on it. Empty hook:
    // every request goes on the line.
    std::function<bool(const ITag& tag)> answeredLocally;
};

struct TagResult {
    bool ok = false;
    std::vector<uint8_t> value;  // the host value (GetVarLength() bytes, one per bit for bits)
    int code = 0;                // when not ok: the protocol's error code
    std::string text;            // and its text
    std::chrono::system_clock::time_point time;  // when its request ended
};

struct CycleSummary {
    bool complete = false;  // false when stopRequested ended the cycle early
    size_t requests = 0;    // requests that went on the line
    size_t failedRequests = 0;
    size_t failedTags = 0;
    std::chrono::steady_clock::duration elapsed{};
};

class Scan {
  public:
    // The protocol must outlive the scan and be started before runCycle.
    Scan(IProtocol4& protocol, std::vector<const ITag*> tags, ScanHooks hooks = {});

    const std::vector<ScanGroup>& plan() const { return plan_; }
    size_t lineRequests() const;

    // Reads every group once. The results of an abandoned cycle are partly old.
    CycleSummary runCycle();
    // One entry per tag, in the order the tags were given.
    const std::vector<TagResult>& results() const { return results_; }

  private:
    bool readGroup(const ScanGroup& group);
    void fail(const ScanGroup& group, int code, const std::string& text);

    IProtocol4& protocol_;
    std::vector<const ITag*> tags_;
    ScanHooks hooks_;
    std::vector<ScanGroup> plan_;
    std::vector<TagResult> results_;
    std::vector<uint8_t> block_;
};

}  // namespace qarn
