// qarn info: who the plug-in is.

#include <CLI/CLI.hpp>
#include <iostream>

#include <qarn/host/IProtModule.h>
#include <qarn/host/IProtocol.h>
#include <qarn/toolkit/Errors.h>
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
};

}  // namespace

std::unique_ptr<Command> makeInfoCommand() {
    return std::make_unique<InfoCommand>();
}

}  // namespace qarn
