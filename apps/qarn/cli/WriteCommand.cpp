// qarn write TAG VALUE: parses the value by the tag's data type and writes it.

#include <CLI/CLI.hpp>
#include <iostream>
#include <vector>

#include <qarn/host/IProtocol.h>
#include <qarn/host/ITag.h>
#include <qarn/toolkit/Errors.h>
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
    }

    int run(CommandContext& context) override {
        Session& session = context.session();
        IProtocol& p = session.started();
        TagHandle handle(session, p, tag_);
        const ValueType type = handle.type();
        std::vector<uint8_t> value;
        std::string error;
        // Nothing goes on the line for a value that does not fit.
        if (!encodeValue(type, value_, value, error)) {
            throw UsageError(tag_ + ": " + error);
        }
        session.clearPortError();
        if (!p.Write(&handle.tag(), value.data())) {
            session.fail(tag_);
        }
        std::cout << tag_ << " = " << toText(decodeValue(type, value.data(), value.size()), false)
                  << " written\n";
        return ExitOk;
    }

  private:
    std::string tag_;
    std::string value_;
};

}  // namespace

std::unique_ptr<Command> makeWriteCommand() {
    return std::make_unique<WriteCommand>();
}

}  // namespace qarn
