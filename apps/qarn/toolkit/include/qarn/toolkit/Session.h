#pragma once
// The plug-in as qarn drives it: our host with its store, port map and trace; the loaded
// plug-in; one protocol instance, configured and started on demand. Tears down in order.

#include <cstdio>
#include <memory>
#include <string>

#include <qarn/refhost/FileStore.h>
#include <qarn/refhost/FrameFanout.h>
#include <qarn/refhost/FrameTrace.h>
#include <qarn/refhost/HostFactory.h>
#include <qarn/refhost/LineReport.h>
#include <qarn/refhost/PcapTrace.h>
#include <qarn/refhost/PluginLoader.h>
#include <qarn/toolkit/NodeGuard.h>

class IProtocol;

namespace qarn {

struct LineOptions;

class Session {
  public:
    // Sets up the host (store, port map, trace); nothing is loaded yet. A damaged store is moved
    // aside when the options ask for it. Throws UsageError for bad host options and a store
    // that can't be reset.
    explicit Session(const LineOptions& options);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The protocol instance with its ident set; loads the plug-in on first use.
    IProtocol& protocol();
    // ... and configured with the line's configuration string.
    IProtocol& configured();
    // ... and started (node-ID overrides restored, port open). Throws UsageError, before
    // anything is loaded, while the store is damaged: requests would then reach the configured
    // nodes instead of their overrides.
    IProtocol& started();

    // Writes to node 0 are wanted (--broadcast).
    void allowBroadcast(bool allow) { broadcast_ = allow; }
    // The node guard over the store's overrides in the protocol's section; loads the plug-in.
    NodeGuard nodeGuard();
    // Throws UsageError "ADDRESS: refused, nothing sent: REASON" when the guard refuses the tag.
    void checkTag(const std::string& address, TagAccess access);

    // Changes of the store that were not saved so far.
    int storeFailures();
    // Why changes since `before` (a storeFailures() count) were not saved, or empty; a reason
    // returned is not repeated when the session ends.
    std::string storeFailureSince(int before);

    // "error -6: Communication error (no answer within 200 ms, 3 tries)": the plug-in's code and
    // text, then in parentheses what the ports saw and the operating system said since the last
    // clearPortError(), when there is anything.
    std::string protocolError();
    // Its two parts: the plug-in's code, and its text with what the ports saw.
    int lastErrorCode() const;
    std::string lastErrorText() const;
    // Opens a new window of what the ports see; call it before every plug-in call that may talk
    // to the line.
    void clearPortError();
    // What the ports saw since the last clearPortError().
    const refhost::LineReport& lineReport() const;
    // Every wait of the ports also ends when `fd` becomes readable (-1: no such descriptor).
    void setCancelFd(int fd);
    // The line's frames also go to `sink` (not owned; it must outlive the session's use of the
    // line). Call it before the line is first used: ports opened earlier without any sink stay
    // untraced. Several sinks all get every frame.
    void addFrameSink(refhost::FrameSink* sink);
    // True when a capture file was asked for and a write to it failed.
    bool captureFailed() const { return pcap_ != nullptr && pcap_->failed(); }
    // Throws Failure with "<what>: <protocolError()>".
    [[noreturn]] void fail(const std::string& what);

    refhost::PluginLoader& loader() { return loader_; }
    refhost::HostFactory& host() { return host_; }
    const std::string& pluginPath() const { return pluginPath_; }
    const std::string& storePath() const { return storePath_; }

  private:
    const LineOptions& options_;
    std::string pluginPath_;
    std::string storePath_;
    std::FILE* traceFile_ = nullptr;
    std::unique_ptr<refhost::FrameTrace> trace_;
    std::unique_ptr<refhost::PcapTrace> pcap_;
    // What the ports report to: every sink of the session.
    refhost::FrameFanout sinks_;
    // Declared before the loader: the plug-in must be gone before the services it holds.
    refhost::HostFactory host_;
    refhost::PluginLoader loader_;
    IProtocol* protocol_ = nullptr;
    bool configured_ = false;
    bool started_ = false;
    bool broadcast_ = false;
    std::string storeDamage_;  // why the store is not usable; empty when it is
    int reportedStoreFailures_ = 0;
};

}  // namespace qarn
