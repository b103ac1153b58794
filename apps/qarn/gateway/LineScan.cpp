#include <qarn/gateway/LineScan.h>

#include <algorithm>
#include <cctype>

#include <qarn/host/IProtocol.h>
#include <qarn/host/ITag.h>
#include <qarn/toolkit/Errors.h>
#include <qarn/toolkit/NodeGuard.h>
#include <qarn/toolkit/Session.h>

namespace qarn {

namespace {

// The driver answers its node areas, NO (node override) and SL (slave address), from its own
// tables; the host's interfaces can't tell, only the request counts depend on it.
bool answeredByDriver(const ITag& tag) {
    const char* address = tag.GetVarName();
    std::string area = NodeGuard::field(address != nullptr ? address : "", 1);
    std::transform(area.begin(), area.end(), area.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return area == "NO" || area == "SL";
}

}  // namespace

LineScan::LineScan(Session& session, const GatewayLine& line,
                   std::function<bool()> stopRequested) {
    IProtocol& protocol = session.configured();
    const NodeGuard guard = session.nodeGuard();
    std::vector<const ITag*> tags;
    std::vector<std::string> problems;
    for (const GatewayTag& t : line.tags) {
        const TagSpec& entry = t.entry;
        const std::string where =
            entry.origin + ": line " + line.name + " tag " + entry.name + " (" + entry.address + ")";
        const std::string problem = guard.tagProblem(entry.address, TagAccess::Read);
        if (!problem.empty()) {
            problems.push_back(where + ": refused: " + problem);
            continue;
        }
        try {
            handles_.push_back(std::make_unique<TagHandle>(session, protocol, entry.address));
        } catch (const Failure& e) {
            problems.push_back(where + ": " + e.what());
            continue;
        }
        tags.push_back(&handles_.back()->tag());
        polled_.push_back(PolledTag{entry.name, entry.address, handles_.back()->type()});
    }
    if (!problems.empty()) {
        handles_.clear();
        throw ConfigError(problems);
    }
    auto* planned = static_cast<IProtocol4*>(protocol.ConvertTo("IProtocol4"));
    if (planned == nullptr) {
        throw Failure("the plug-in's protocol does not offer IProtocol4, which planning needs");
    }
    ScanHooks hooks;
    hooks.beforeRead = [&session] { session.clearPortError(); };
    hooks.errorText = [&session] { return session.lastErrorText(); };
    hooks.stopRequested = std::move(stopRequested);
    hooks.answeredLocally = answeredByDriver;
    scan_ = std::make_unique<Scan>(*planned, std::move(tags), std::move(hooks));
}

// The tags go before the session that made them.
LineScan::~LineScan() {
    scan_.reset();
    handles_.clear();
}

int LineScan::find(const std::string& name) const {
    for (size_t i = 0; i < polled_.size(); ++i) {
        if (polled_[i].name == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

}  // namespace qarn
