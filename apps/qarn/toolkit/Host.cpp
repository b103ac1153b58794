#include <qarn/toolkit/Host.h>

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include <qarn/host/IProtocol.h>
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

Host::Host(const LineOptions& options)
    : pluginPath_(options.plugin.empty() ? defaultPluginPath() : options.plugin),
      storePath_(options.store.empty()
                     ? defaultStorePath(std::getenv("XDG_STATE_HOME"), homeFolder().c_str())
                     : options.store) {
    for (const std::string& mapping : options.portMaps) {
        std::string error;
        if (!factory_.serialFactory().addMapping(mapping, error)) {
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
        factory_.setStore(std::move(store));
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
        pcapPath_ = options.tracePcap;
        addFrameSink(pcap_.get());
    }
}

void Host::addFrameSink(refhost::FrameSink* sink) {
    sinks_.add(sink);
    // The ports hold the fan-out itself, so a sink added later reaches the ports already open
    // with one.
    factory_.serialFactory().setTrace(sinks_.empty() ? nullptr : &sinks_);
}

Host::~Host() {
    loader_.unload();
    // The plug-in cannot tell that its store refused a change; the user must learn it.
    const refhost::FileStore* store = factory_.store();
    if (store != nullptr && store->failedWrites() > reportedStoreFailures_) {
        std::cerr << "qarn: warning: a change of the store was lost: " << store->error() << "\n";
    }
    if (traceFile_ != nullptr) {
        std::fclose(traceFile_);
    }
    if (captureFailed()) {
        std::cerr << "qarn: warning: the capture file " << pcapPath_
                  << " is incomplete: a write to it failed\n";
    }
}

IProtocol& Host::createProtocol(const std::string& ident) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!loader_.loaded() && !loader_.load(pluginPath_, factory_)) {
        throw Failure(loader_.error());
    }
    IProtocol* protocol = loader_.createProtocol("QARN");
    if (protocol == nullptr) {
        throw Failure(loader_.error());
    }
    if (!ident.empty()) {
        protocol->SetIdent(ident.c_str());
    }
    if (!storeDamage_.empty() && !damageTold_) {
        // Commands that stay off the line still run; the user must know the overrides are gone.
        damageTold_ = true;
        std::cerr << "qarn: warning: the store is not usable: " << storeDamage_
                  << "; no node-ID overrides are restored (--store-reset moves the file aside)\n";
    }
    return *protocol;
}

void Host::deleteProtocol(IProtocol& protocol) {
    const std::lock_guard<std::mutex> lock(mutex_);
    loader_.deleteProtocol(&protocol);
}

void Host::storeFailuresReported(int count) {
    const std::lock_guard<std::mutex> lock(mutex_);
    reportedStoreFailures_ = std::max(reportedStoreFailures_, count);
}

}  // namespace qarn
