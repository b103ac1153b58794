// qarn write TAG VALUE: parses the value by the tag's data type and writes it.

#include <CLI/CLI.hpp>
#include <iostream>
#include <vector>

#include <qarn/host/IProtocol.h>
#include <qarn/host/ITag.h>
#include <qarn/refhost/EchoMode.h>
#include <qarn/toolkit/Errors.h>
#include <qarn/toolkit/LineOptions.h>
#include <qarn/toolkit/NodeGuard.h>
#include <qarn/toolkit/Session.h>
#include <qarn/toolkit/TagValue.h>
#include <qarn/toolkit/ValueCodec.h>
#include "Commands.h"

namespace qarn {

namespace {

class WriteCommand final : public Command {
  public:
    const char* name() const override { return "write"; }
    const char* summary() const override { return "write one value to a tag"; }

    void define(CLI::App& app) override {
        app.add_option("TAG", tag_, "tag address NODE?MEMTYPE?ADDRESS[.SUB]?TYPE")->required();
        app.add_option("VALUE", value_,
                       "value by the tag's type: integer (decimal or 0x-hex), float, 0/1/true/"
                       "false, text, hex bytes for binary, comma lists for arrays")
            ->required();
        app.add_flag("--broadcast", broadcast_,
                     "allow a write to node 0, a broadcast that every slave obeys");
        app.footer(
            "Refused before sending (exit status 2): a tag whose node, or the node override "
            "stored for it, is 0 (without --broadcast), reserved (248-254), above 255 or no "
            "number. A node override that is not saved in the store fails (exit status 1).");
    }

    int run(CommandContext& context) override {
        Session& session = context.session();
        session.allowBroadcast(broadcast_);
        IProtocol& p = session.started();
        session.checkTag(tag_, TagAccess::Write);
        TagHandle handle(session, p, tag_);
        const ValueType type = handle.type();
        std::vector<uint8_t> value;
        std::string error;
        // Nothing goes on the line for a value that does not fit.
        if (!encodeValue(type, value_, value, error)) {
            throw UsageError(tag_ + ": " + error);
        }
        // A node override's value is the node's new address; the plug-in only takes its low
        // byte, which the type holds already.
        if (NodeGuard::isNodeOverride(tag_) && !value.empty()) {
            const std::string problem = session.nodeGuard().targetProblem(value[0]);
            if (!problem.empty()) {
                throw UsageError(tag_ + ": refused, nothing changed: " + problem);
            }
        }
        settleEcho(context, p, handle, tag_);
        const int storeFailures = session.storeFailures();
        session.clearPortError();
        if (!p.Write(&handle.tag(), value.data())) {
            session.fail(tag_);
        }
        // The plug-in can't tell that its store refused the override; it is lost at exit.
        const std::string unsaved = session.storeFailureSince(storeFailures);
        if (!unsaved.empty()) {
            throw Failure(tag_ + ": the node override was not saved: " + unsaved);
        }
        std::cout << tag_ << " = " << toText(decodeValue(type, value.data(), value.size()), false)
                  << " written\n";
        return ExitOk;
    }

  private:
    // A write's answer looks just like its request, so while the port has not yet found out
    // whether the adapter echoes (--echo auto), it can't take any answer to it. A read settles
    // that (its answer and its echo differ), so the tag is read once first; what it gives does
    // not matter. The node-override area is the plug-in's own: nothing to settle there.
    static void settleEcho(CommandContext& context, IProtocol& p, const TagHandle& handle,
                           const std::string& address) {
        refhost::EchoMode mode = refhost::EchoMode::Auto;
        if (!refhost::parseEchoMode(context.options().echo, mode) ||
            mode != refhost::EchoMode::Auto || NodeGuard::isNodeOverride(address)) {
            return;
        }
        std::vector<uint8_t> image(hostValueSize(handle.type()) + 1, 0);
        context.session().clearPortError();
        p.Read(&handle.tag(), image.data());
    }

    std::string tag_;
    std::string value_;
    bool broadcast_ = false;
};

}  // namespace

std::unique_ptr<Command> makeWriteCommand() {
    return std::make_unique<WriteCommand>();
}

}  // namespace qarn
