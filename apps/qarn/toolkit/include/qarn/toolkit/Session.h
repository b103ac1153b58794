#pragma once
// The plug-in as qarn drives it: our host with its store, port map and trace; the loaded
// plug-in; one protocol instance, configured and started on demand. Tears down in order.

#include <cstdio>
#include <memory>
#include <string>

#include <qarn/refhost/FileStore.h>
#include <qarn/refhost/FrameTrace.h>
#include <qarn/refhost/HostFactory.h>
#include <qarn/refhost/PluginLoader.h>

class IProtocol;

namespace qarn {

struct LineOptions;

class Session {
  public:
    // Sets up the host (store, port map, trace); nothing is loaded yet. Throws UsageError for
    // bad host options.
    explicit Session(const LineOptions& options);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The protocol instance with its ident set; loads the plug-in on first use.
    IProtocol& protocol();
    // ... and configured with the line's configuration string.
    IProtocol& configured();
    // ... and started (node-ID overrides restored, port open).
    IProtocol& started();

    // "error -6: Communication error", followed by what the operating system said about the
    // port when it said something since the last call of clearPortError().
    std::string protocolError();
    // Its two parts: the plug-in's code, and its text with the port's reason.
    int lastErrorCode() const;
    std::string lastErrorText() const;
    void clearPortError();
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
    // Declared before the loader: the plug-in must be gone before the services it holds.
    refhost::HostFactory host_;
    refhost::PluginLoader loader_;
    IProtocol* protocol_ = nullptr;
    bool configured_ = false;
    bool started_ = false;
};

}  // namespace qarn
