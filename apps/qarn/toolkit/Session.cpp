#include <qarn/toolkit/Session.h>


#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include <qarn/host/ErrorCodes.h>
#include <qarn/host/IProtocol.h>
#include <qarn/refhost/EchoMode.h>
#include <qarn/refhost/LineReport.h>
#include <qarn/toolkit/Errors.h>
#include <qarn/toolkit/LineOptions.h>
#include <qarn/toolkit/TagValue.h>

namespace qarn {

Session::Session(const LineOptions& options)
    : options_(options), own_(std::make_unique<Host>(options)), shared_(*own_) {
    applyPortOptions();
}

Session::Session(Host& host, const LineOptions& options) : options_(options), shared_(host) {
    applyPortOptions();
}

void Session::applyPortOptions() {
    refhost::SerialFactory& ports = host().serialFactory();
    refhost::EchoMode echo = refhost::EchoMode::Auto;
    if (!refhost::parseEchoMode(options_.echo, echo)) {
        throw UsageError("--echo must be auto, on or off, not '" + options_.echo + "'");
    }
    ports.setEcho(echo);
    if (options_.lateGuardMs) {
        ports.setLateGuardMs(*options_.lateGuardMs);
    }
}

Session::~Session() {
    if (own_ == nullptr) {
        // Others go on with the plug-in: only this instance goes, and this thread's line.
        if (protocol_ != nullptr) {
            shared_.deleteProtocol(*protocol_);
        }
        host().serialFactory().endLine();
    }
}

IProtocol& Session::protocol() {
    if (protocol_ == nullptr) {
        protocol_ = &shared_.createProtocol(options_.ident);
    }
    return *protocol_;
}

IProtocol& Session::configured() {
    IProtocol& p = protocol();
    if (!configured_) {
        const std::string cfg = configurationString(options_);
        clearPortError();
        if (!p.Config(cfg.c_str())) {
            fail("configuration refused");
        }
        configured_ = true;
    }
    return p;
}

IProtocol& Session::started() {
    if (!started_ && !shared_.storeDamage().empty()) {
        throw UsageError("the store is not usable: " + shared_.storeDamage() +
                         "\nqarn: nothing was sent: requests would reach the configured nodes "
                         "instead of their overrides. --store-reset moves the file aside (it is "
                         "kept) and starts with an empty store");
    }
    IProtocol& p = configured();
    if (!started_) {
        clearPortError();
        if (!p.Start()) {
            fail("cannot start the line");
        }
        started_ = true;
    }
    return p;
}

NodeGuard Session::nodeGuard() {
    IProtocol& p = protocol();
    return NodeGuard(host().store(), p.GetIdent() != nullptr ? p.GetIdent() : "", storePath(),
                     broadcast_);
}

void Session::checkTag(const std::string& address, TagAccess access) {
    const std::string problem = nodeGuard().tagProblem(address, access);
    if (!problem.empty()) {
        throw UsageError(address + ": refused, nothing sent: " + problem);
    }
}

int Session::storeFailures() {
    const refhost::FileStore* store = host().store();
    return store != nullptr ? store->failedWrites() : 0;
}

std::string Session::storeFailureSince(int before) {
    const refhost::FileStore* store = host().store();
    const int failures = store != nullptr ? store->failedWrites() : 0;
    if (failures <= before) {
        return std::string();
    }
    shared_.storeFailuresReported(failures);
    return store->error();
}

void Session::clearPortError() {
    shared_.factory().serialFactory().clearError();
    shared_.factory().serialFactory().beginReport();
}

const refhost::LineReport& Session::lineReport() const {
    return shared_.factory().serialFactory().report();
}

void Session::setCancelFd(int fd) {
    shared_.factory().serialFactory().setCancelFd(fd);
}

int Session::lastErrorCode() const {
    return protocol_ != nullptr ? protocol_->GetLastError() : ErrorCode::NoErrorYet;
}

std::string Session::lastErrorText() const {
    std::string text;
    if (protocol_ != nullptr && protocol_->GetLastErrorString() != nullptr) {
        text = withTypesHint(protocol_->GetLastErrorString());
    }
    // The plug-in can only say "Communication error"; the ports know what they saw, and the
    // operating system what happened to them.
    const refhost::LineReport& report = shared_.factory().serialFactory().report();
    std::string seen = refhost::describe(report);
    const std::string& os = shared_.factory().serialFactory().lastError();
    if (!os.empty() &&
        (report.osReason.empty() || seen.find(report.osReason) == std::string::npos)) {
        seen += (seen.empty() ? "" : "; ") + os;
    }
    if (!seen.empty()) {
        text += " (" + seen + ")";
    }
    return text;
}

std::string Session::protocolError() {
    return "error " + std::to_string(lastErrorCode()) + ": " + lastErrorText();
}

void Session::fail(const std::string& what) {
    throw Failure(what + ": " + protocolError());
}

}  // namespace qarn
