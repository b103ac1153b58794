#include <qarn/toolkit/Session.h>

#include <pwd.h>
#include <unistd.h>

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

namespace qarn {

namespace {

std::string homeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') {
        return home;
    }
    const passwd* pw = getpwuid(getuid());
    return pw != nullptr && pw->pw_dir != nullptr ? pw->pw_dir : "";
}

// Moves a damaged store aside, as --store-reset asks; a whole one stays as it is.
void resetStore(refhost::FileStore& store, bool whole) {
    if (whole) {
        std::cerr << "qarn: the store " << store.path()
                  << " is not damaged; --store-reset left it as it is\n";
        return;
    }
    const std::string damage = store.error();
    std::string kept;
    if (!store.reset(kept)) {
        throw UsageError("--store-reset: " + store.error());
    }
    std::cerr << "qarn: store reset (" << damage << "): "
              << (kept.empty() ? std::string("there was no file to keep")
                               : "the damaged file was moved aside to " + kept)
              << "; starting with an empty store\n";
}

}  // namespace

Session::Session(const LineOptions& options)
    : options_(options),
      pluginPath_(options.plugin.empty() ? defaultPluginPath() : options.plugin),
      storePath_(options.store.empty()
                     ? defaultStorePath(std::getenv("XDG_STATE_HOME"), homeFolder().c_str())
                     : options.store) {
    refhost::SerialFactory& ports = host_.serialFactory();
    refhost::EchoMode echo = refhost::EchoMode::Auto;
    if (!refhost::parseEchoMode(options.echo, echo)) {
        throw UsageError("--echo must be auto, on or off, not '" + options.echo + "'");
    }
    ports.setEcho(echo);
    if (options.lateGuardMs) {
        ports.setLateGuardMs(*options.lateGuardMs);
    }
    for (const std::string& mapping : options.portMaps) {
        std::string error;
        if (!ports.addMapping(mapping, error)) {
            throw UsageError(error);
        }
    }
    if (storePath_.empty()) {
        // Without a store the plug-in still works; it only forgets its node-ID overrides.
        std::cerr << "qarn: warning: no place for the store (set HOME or XDG_STATE_HOME, or give "
                     "--store): node-ID overrides are not kept\n";
    } else {
        auto store = std::make_unique<refhost::FileStore>(storePath_);
        const bool loaded = store->load();
        if (options.storeReset) {
            resetStore(*store, loaded);
        } else if (!loaded) {
            storeDamage_ = store->error();
        }
        host_.setStore(std::move(store));
    }
    if (options.trace) {
        if (options.traceFile.empty()) {
            trace_ = std::make_unique<refhost::FrameTrace>(stderr);
        } else {
            traceFile_ = std::fopen(options.traceFile.c_str(), "a");
            if (traceFile_ == nullptr) {
                throw UsageError("cannot open the trace file '" + options.traceFile +
                                 "': " + std::strerror(errno));
            }
            trace_ = std::make_unique<refhost::FrameTrace>(traceFile_);
        }
        addFrameSink(trace_.get());
    }
    if (!options.tracePcap.empty()) {
        std::string error;
        pcap_ = refhost::PcapTrace::open(options.tracePcap, error);
        if (pcap_ == nullptr) {
            throw UsageError(error);
        }
        addFrameSink(pcap_.get());
    }
}

Session::~Session() {
    loader_.unload();
    // The plug-in cannot tell that its store refused a change; the user must learn it.
    const refhost::FileStore* store = host_.store();
    if (store != nullptr && store->failedWrites() > reportedStoreFailures_) {
        std::cerr << "qarn: warning: a change of the store was lost: " << store->error() << "\n";
    }
    if (traceFile_ != nullptr) {
        std::fclose(traceFile_);
    }
    if (captureFailed()) {
        std::cerr << "qarn: warning: the capture file " << options_.tracePcap
                  << " is incomplete: a write to it failed\n";
    }
}

IProtocol& Session::protocol() {
    if (protocol_ != nullptr) {
        return *protocol_;
    }
    if (!loader_.loaded() && !loader_.load(pluginPath_, host_)) {
        throw Failure(loader_.error());
    }
    protocol_ = loader_.createProtocol("QARN");
    if (protocol_ == nullptr) {
        throw Failure(loader_.error());
    }
    if (!options_.ident.empty()) {
        protocol_->SetIdent(options_.ident.c_str());
    }
    if (!storeDamage_.empty()) {
        // Commands that stay off the line still run; the user must know the overrides are gone.
        std::cerr << "qarn: warning: the store is not usable: " << storeDamage_
                  << "; no node-ID overrides are restored (--store-reset moves the file aside)\n";
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
    if (!started_ && !storeDamage_.empty()) {
        throw UsageError("the store is not usable: " + storeDamage_ +
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
    return NodeGuard(host_.store(), p.GetIdent() != nullptr ? p.GetIdent() : "", storePath_,
                     broadcast_);
}

void Session::checkTag(const std::string& address, TagAccess access) {
    const std::string problem = nodeGuard().tagProblem(address, access);
    if (!problem.empty()) {
        throw UsageError(address + ": refused, nothing sent: " + problem);
    }
}

int Session::storeFailures() {
    const refhost::FileStore* store = host_.store();
    return store != nullptr ? store->failedWrites() : 0;
}

std::string Session::storeFailureSince(int before) {
    const refhost::FileStore* store = host_.store();
    if (store == nullptr || store->failedWrites() <= before) {
        return std::string();
    }
    reportedStoreFailures_ = store->failedWrites();
    return store->error();
}

void Session::clearPortError() {
    host_.serialFactory().clearError();
    host_.serialFactory().beginReport();
}

const refhost::LineReport& Session::lineReport() const {
    return host_.serialFactory().report();
}

void Session::setCancelFd(int fd) {
    host_.serialFactory().setCancelFd(fd);
}

void Session::addFrameSink(refhost::FrameSink* sink) {
    sinks_.add(sink);
    // The ports hold the fan-out itself, so a sink added later reaches the ports already open
    // with one.
    host_.serialFactory().setTrace(sinks_.empty() ? nullptr : &sinks_);
}

int Session::lastErrorCode() const {
    return protocol_ != nullptr ? protocol_->GetLastError() : ErrorCode::NoErrorYet;
}

std::string Session::lastErrorText() const {
    std::string text;
    if (protocol_ != nullptr && protocol_->GetLastErrorString() != nullptr) {
        text = protocol_->GetLastErrorString();
    }
    // The plug-in can only say "Communication error"; the ports know what they saw, and the
    // operating system what happened to them.
    const refhost::LineReport& report = host_.serialFactory().report();
    std::string seen = refhost::describe(report);
    const std::string& os = host_.serialFactory().lastError();
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
