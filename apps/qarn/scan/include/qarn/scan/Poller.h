#pragma once
// The polling loop that `qarn poll` and `qarn demo` share: named tags created on the session's
// protocol, one planned scan over them, cycles at a fixed interval until a count is reached or
// a signal asks to stop, each cycle handed to an output.

#include <chrono>
#include <memory>
#include <vector>

#include <qarn/scan/PollOutput.h>
#include <qarn/scan/RequestPlan.h>
#include <qarn/scan/Scan.h>
#include <qarn/scan/TagList.h>
#include <qarn/toolkit/TagValue.h>

class IProtocol;
class IProtocol4;

namespace qarn {

class Session;

struct PollSettings {
    unsigned long count = 0;                   // cycles; 0 until stopped
    std::chrono::milliseconds interval{1000};  // from the start of one cycle to the next
};

class Poller {
  public:
    // Creates every tag on `protocol`, the session's (configured; started before run()). Throws
    // UsageError naming a tag that the session's node guard refuses for reading, and Failure
    // naming the tag that the plug-in refuses, each with its reason.
    Poller(Session& session, IProtocol& protocol, const std::vector<TagSpec>& specs);
    ~Poller();
    Poller(const Poller&) = delete;
    Poller& operator=(const Poller&) = delete;

    const Scan& scan() const { return *scan_; }
    const std::vector<PolledTag>& tags() const { return polled_; }
    // The plan's requests as the line sees them, one per group of scan().plan().
    std::vector<PlannedRequest> requests() const;

    // Polls until `settings.count` cycles are done or StopOnSignal::stopRequested(), handing
    // each complete cycle to `output`. Returns the summary of the last complete cycle (complete
    // false when none completed).
    CycleSummary run(const PollSettings& settings, PollOutput& output);
    // Complete cycles so far that took longer than the interval.
    unsigned long overruns() const { return overruns_; }

  private:
    std::vector<std::unique_ptr<TagHandle>> handles_;
    std::vector<PolledTag> polled_;
    IProtocol4* protocol_ = nullptr;
    std::unique_ptr<Scan> scan_;
    unsigned long overruns_ = 0;
};

}  // namespace qarn
