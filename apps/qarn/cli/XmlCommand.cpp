// qarn xml: the plug-in's published description, inflated.

#include <CLI/CLI.hpp>
#include <iostream>

#include <qarn/host/IProtocol.h>
#include <qarn/toolkit/Description.h>
#include <qarn/toolkit/Errors.h>
#include <qarn/toolkit/Session.h>
#include "Commands.h"

namespace qarn {

namespace {

class XmlCommand final : public Command {
  public:
    const char* name() const override { return "xml"; }
    bool talksToLine() const override { return false; }
    const char* summary() const override { return "print the plug-in's XML description"; }
    void define(CLI::App&) override {}

    int run(CommandContext& context) override {
        IProtocol& p = context.session().protocol();
        std::string xml;
        std::string error;
        if (!inflateDescription(p.GetXml(), xml, error)) {
            throw Failure(error);
        }
        std::cout << xml;
        if (!xml.empty() && xml.back() != '\n') {
            std::cout << "\n";
        }
        return ExitOk;
    }
};

}  // namespace

std::unique_ptr<Command> makeXmlCommand() {
    return std::make_unique<XmlCommand>();
}

}  // namespace qarn
