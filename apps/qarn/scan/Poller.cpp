#include <qarn/scan/Poller.h>

#include <algorithm>
#include <string>
#include <thread>

#include <qarn/host/IProtocol.h>
#include <qarn/host/ITag.h>
#include <qarn/scan/RequestPlan.h>
#include <qarn/toolkit/Errors.h>
#include <qarn/toolkit/NodeGuard.h>
#include <qarn/toolkit/Session.h>
#include <qarn/toolkit/StopOnSignal.h>

namespace qarn {

namespace {

// Sleeps until `until`, in short steps so that a stop request is seen soon.
void sleepUntil(std::chrono::steady_clock::time_point until) {
    constexpr auto step = std::chrono::milliseconds(20);
    for (auto now = std::chrono::steady_clock::now(); now < until && !StopOnSignal::stopRequested();
         now = std::chrono::steady_clock::now()) {
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(until - now, step));
    }
}

}  // namespace

Poller::Poller(Session& session, IProtocol& protocol, const std::vector<TagSpec>& specs) {
    std::vector<const ITag*> tags;
    const NodeGuard guard = session.nodeGuard();
    for (const TagSpec& entry : specs) {
        const std::string problem = guard.tagProblem(entry.address, TagAccess::Read);
        if (!problem.empty()) {
            throw UsageError(entry.origin + " " + entry.name + " (" + entry.address +
                             "): refused, nothing sent: " + problem);
        }
        try {
            handles_.push_back(std::make_unique<TagHandle>(session, protocol, entry.address));
        } catch (const Failure& e) {
            throw Failure(entry.origin + " " + entry.name + ": " + e.what());
        }
        tags.push_back(&handles_.back()->tag());
        polled_.push_back(PolledTag{entry.name, entry.address, handles_.back()->type()});
    }
    // GetNodeID came with the fourth version of the interface.
    auto* planned = static_cast<IProtocol4*>(protocol.ConvertTo("IProtocol4"));
    if (planned == nullptr) {
        throw Failure("the plug-in's protocol does not offer IProtocol4, which planning needs");
    }
    protocol_ = planned;
    ScanHooks hooks;
    hooks.beforeRead = [&session] { session.clearPortError(); };
    hooks.errorText = [&session] { return session.lastErrorText(); };
    hooks.stopRequested = StopOnSignal::stopRequested;
    hooks.answeredLocally = answeredByDriver;
    scan_ = std::make_unique<Scan>(*planned, std::move(tags), std::move(hooks));
}

std::vector<PlannedRequest> Poller::requests() const {
    std::vector<const ITag*> tags;
    for (const auto& handle : handles_) {
        tags.push_back(&handle->tag());
    }
    return describeRequests(*protocol_, tags, scan_->plan());
}

// The tags go before the session that made them.
Poller::~Poller() {
    scan_.reset();
    handles_.clear();
}

CycleSummary Poller::run(const PollSettings& settings, PollOutput& output) {
    CycleSummary last;
    auto next = std::chrono::steady_clock::now();
    for (unsigned long n = 1; settings.count == 0 || n <= settings.count; ++n) {
        if (n > 1) {
            sleepUntil(next);
        }
        if (StopOnSignal::stopRequested()) {
            break;
        }
        const auto started = std::chrono::steady_clock::now();
        next += settings.interval;
        CycleInfo info{n, settings.count, std::chrono::system_clock::now()};
        const CycleSummary summary = scan_->runCycle();
        if (!summary.complete) {
            break;
        }
        info.interval = settings.interval;
        info.overrun = settings.interval.count() > 0 &&
                       std::chrono::steady_clock::now() - started > settings.interval;
        overruns_ += info.overrun ? 1 : 0;
        info.overruns = overruns_;
        output.cycle(info, scan_->results(), summary);
        last = summary;
        // A cycle longer than the interval starts the next one at once, not a burst of them.
        next = std::max(next, std::chrono::steady_clock::now());
    }
    return last;
}

}  // namespace qarn
