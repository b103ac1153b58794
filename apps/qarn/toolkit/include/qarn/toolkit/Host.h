#pragma once
// Our reference host with the plug-in loaded into it, once per process as a real host does: the
// store, the port map and the trace, the plug-in's module and factory. Every protocol instance
// of the process (one per line in the gateway) is made here; they share the store and the
// serial factory, which are safe to use from the lines' threads.

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include <qarn/refhost/FileStore.h>
#include <qarn/refhost/FrameFanout.h>
#include <qarn/refhost/FrameTrace.h>
#include <qarn/refhost/HostFactory.h>
#include <qarn/refhost/PcapTrace.h>
#include <qarn/refhost/PluginLoader.h>

class IProtocol;

namespace qarn {

struct LineOptions;

class Host {
  public:
    // Sets up the store, port map and trace from the host options of `options`; nothing is
    // loaded yet. A damaged store is moved aside when the options ask for it. Throws UsageError
    // for bad host options and a store that can't be reset.
    explicit Host(const LineOptions& options);
    // Unloads the plug-in (deleting the instances still alive), then warns of store changes
    // that were lost and not reported.
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // A new protocol instance with `ident` set (none when empty); loads the plug-in on first
    // use. Throws Failure with the loader's reason. Safe from any thread.
    IProtocol& createProtocol(const std::string& ident);
    // Stops and deletes one instance made by createProtocol. Safe from any thread.
    void deleteProtocol(IProtocol& protocol);

    // The ports' frames also go to `sink` (not owned; it must outlive the ports' use). Call it
    // before the lines are first used: ports opened earlier without any sink stay untraced.
    // Several sinks all get every frame, from every line.
    void addFrameSink(refhost::FrameSink* sink);
    // What the host's sinks are reached through; null while there are none.
    refhost::FrameSink* frameSink() { return sinks_.empty() ? nullptr : &sinks_; }
    // True when a capture file was asked for and a write to it failed.
    bool captureFailed() const { return pcap_ != nullptr && pcap_->failed(); }

    // Why the store is not usable; empty when it is.
    const std::string& storeDamage() const { return storeDamage_; }
    // Store failures up to `count` were told to the user; the host does not repeat them.
    void storeFailuresReported(int count);

    refhost::HostFactory& factory() { return factory_; }
    const refhost::HostFactory& factory() const { return factory_; }
    refhost::PluginLoader& loader() { return loader_; }
    const std::string& pluginPath() const { return pluginPath_; }
    const std::string& storePath() const { return storePath_; }

  private:
    std::string pluginPath_;
    std::string storePath_;
    std::FILE* traceFile_ = nullptr;
    std::unique_ptr<refhost::FrameTrace> trace_;
    std::unique_ptr<refhost::PcapTrace> pcap_;
    std::string pcapPath_;
    // What the ports report to: every sink of the host.
    refhost::FrameFanout sinks_;
    // Declared before the loader: the plug-in must be gone before the services it holds.
    refhost::HostFactory factory_;
    refhost::PluginLoader loader_;
    std::string storeDamage_;
    // Guards the loader and the counters below.
    std::mutex mutex_;
    bool damageTold_ = false;
    int reportedStoreFailures_ = 0;
};

}  // namespace qarn
