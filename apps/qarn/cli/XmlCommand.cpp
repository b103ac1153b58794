// qarn xml: the plug-in's published description, inflated.

#include <CLI/CLI.hpp>
#include <iostream>

#include <qarn/host/IProtocol.h>
#include "Command.h"
#include "Description.h"
#include "Session.h"

namespace qarn {

namespace {

class XmlCommand final : public Command {
  public:
    const char* name() const override { return "xml"; }
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

QARN_REGISTER_COMMAND(XmlCommand)

}  // namespace qarn
