#pragma once
// The plug-in as qarn drives it: one protocol instance, configured and started on demand, in a
// host with its store, port map and trace, the loaded plug-in. A command has a host of its own;
// the gateway's lines share one, each line's session living on its line's thread. Tears down in
// order.

#include <memory>
#include <string>

#include <qarn/refhost/HostFactory.h>
#include <qarn/refhost/LineReport.h>
#include <qarn/refhost/PluginLoader.h>
#include <qarn/toolkit/Host.h>
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
    // A session on a shared host: the host options of `options` are not used, its line options
    // (configuration, ident, echo, late guard) are. The port settings apply to the ports the
    // calling thread opens, so a line's session is made and used on the line's own thread.
    Session(Host& host, const LineOptions& options);
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
    // untraced. Several sinks all get every frame; on a shared host, those of every line.
    void addFrameSink(refhost::FrameSink* sink) { shared_.addFrameSink(sink); }
    // True when a capture file was asked for and a write to it failed.
    bool captureFailed() const { return shared_.captureFailed(); }
    // Throws Failure with "<what>: <protocolError()>".
    [[noreturn]] void fail(const std::string& what);

    refhost::PluginLoader& loader() { return shared_.loader(); }
    refhost::HostFactory& host() { return shared_.factory(); }
    const std::string& pluginPath() const { return shared_.pluginPath(); }
    const std::string& storePath() const { return shared_.storePath(); }

  private:
    void applyPortOptions();

    const LineOptions& options_;
    std::unique_ptr<Host> own_;  // null on a shared host
    Host& shared_;
    IProtocol* protocol_ = nullptr;
    bool configured_ = false;
    bool started_ = false;
    bool broadcast_ = false;
};

}  // namespace qarn
