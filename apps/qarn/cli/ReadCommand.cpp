// qarn read TAG...: reads tags and prints their values.

#include <CLI/CLI.hpp>
#include <iostream>
#include <vector>

#include <qarn/host/IProtocol.h>
#include <qarn/output/ReadOutput.h>
#include <qarn/toolkit/Errors.h>
#include <qarn/toolkit/NodeGuard.h>
#include <qarn/toolkit/Session.h>
#include <qarn/toolkit/TagValue.h>
#include "Commands.h"

namespace qarn {

namespace {

class ReadCommand final : public Command {
  public:
    const char* name() const override { return "read"; }
    const char* summary() const override { return "read tags and print their values"; }

    void define(CLI::App& app) override {
        app.add_option(
               "TAG", tags_,
               "tag address NODE?MEMTYPE?ADDRESS[.SUB]?TYPE, e.g. 1?HREG?400001?unsignedShort")
            ->required();
        app.add_option("--format", format_, "output format")
            ->check(CLI::IsMember({"text", "json", "csv"}))
            ->capture_default_str();
        app.add_flag("--hex", hex_, "show integers in hex too");
    }

    int run(CommandContext& context) override {
        const ReadFormat format = readFormat(format_);
        Session& session = context.session();
        IProtocol& p = session.started();
        // Every tag is checked before the first one is read.
        for (const std::string& tag : tags_) {
            session.checkTag(tag, TagAccess::Read);
        }
        std::vector<TagReading> results;
        for (const std::string& tag : tags_) {
            results.push_back(readTag(session, p, tag));
        }
        printReadings(results, format, hex_, std::cout, std::cerr);
        for (const TagReading& r : results) {
            if (!r.ok) {
                return ExitFailure;
            }
        }
        return ExitOk;
    }

  private:
    std::vector<std::string> tags_;
    std::string format_ = "text";
    bool hex_ = false;
};

}  // namespace

std::unique_ptr<Command> makeReadCommand() {
    return std::make_unique<ReadCommand>();
}

}  // namespace qarn
