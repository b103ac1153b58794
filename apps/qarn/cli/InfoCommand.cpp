// qarn info: who the plug-in is, and which build of it: the version note and build ID read from
// the file, since its identity numbers stay the same from build to build.

#include <CLI/CLI.hpp>
#include <iostream>

#include <qarn/host/IProtModule.h>
#include <qarn/host/IProtocol.h>
#include <qarn/toolkit/Errors.h>
#include <qarn/toolkit/PluginBuild.h>
#include <qarn/toolkit/Session.h>
#include "Commands.h"

namespace qarn {

namespace {

class InfoCommand final : public Command {
  public:
    const char* name() const override { return "info"; }
    bool talksToLine() const override { return false; }
    const char* summary() const override { return "show the plug-in's identity and its info text"; }
    void define(CLI::App&) override {}

    int run(CommandContext& context) override {
        Session& session = context.session();
        IProtocol& p = session.protocol();
        const IProtModule* module = session.loader().module();
        std::cout << "Plug-in:   " << session.pluginPath() << "\n"
                  << "Version:   " << buildVersion(session.pluginPath()) << "\n"
                  << "Module:    " << module->GetImpName() << " v." << module->GetImpVersion()
                  << "\n"
                  << "Protocol:  " << p.GetName() << " \"" << p.GetProtocolName() << "\" (type "
                  << p.GetProtocolType() << ", version " << p.GetProtocolVersion() << ")\n"
                  << "Ident:     " << p.GetIdent() << "\n\n";
        char text[4096];
        const int n = p.GetInfo(text, static_cast<int>(sizeof text));
        std::cout.write(text, std::max(0, std::min<int>(n, sizeof text)));
        if (n <= 0 || text[std::min<int>(n, sizeof text) - 1] != '\n') {
            std::cout << "\n";
        }
        return ExitOk;
    }

  private:
    // The file was loaded just now, so a failure to read it back is worth a line, not the command.
    static std::string buildVersion(const std::string& path) {
        PluginBuild build;
        std::string error;
        if (!readPluginBuild(path, build, error)) {
            return "unknown (" + error + ")";
        }
        std::string text =
            build.version.empty() ? "unknown (the file has no version note)" : build.version;
        if (!build.buildId.empty()) {
            text += ", build ID " + build.buildId;
        }
        return text;
    }
};

}  // namespace

std::unique_ptr<Command> makeInfoCommand() {
    return std::make_unique<InfoCommand>();
}

}  // namespace qarn
