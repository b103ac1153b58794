// qarn read TAG...: reads tags and prints their values.

#include <CLI/CLI.hpp>
#include <iostream>
#include <vector>

#include <qarn/host/IProtocol.h>
#include "Command.h"
#include "Session.h"
#include "TagValue.h"
#include "ValueCodec.h"

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
        Session& session = context.session();
        IProtocol& p = session.started();
        std::vector<TagReading> results;
        for (const std::string& tag : tags_) {
            results.push_back(readTag(session, p, tag));
        }
        print(results);
        for (const TagReading& r : results) {
            if (!r.ok) {
                return ExitFailure;
            }
        }
        return ExitOk;
    }

  private:
    void print(const std::vector<TagReading>& results) const {
        if (format_ == "json") {
            nlohmann::json list = nlohmann::json::array();
            for (const TagReading& r : results) {
                nlohmann::json item{{"tag", r.tag}};
                if (r.ok) {
                    item["type"] = r.type;
                    item["value"] = toJson(r.value);
                    if (hex_ && !hexJson(r.value).is_null()) {
                        item["hex"] = hexJson(r.value);
                    }
                } else {
                    item["error"] = {{"code", r.code}, {"text", r.text}};
                }
                list.push_back(item);
            }
            // Strings read from a device need not be valid UTF-8.
            std::cout << list.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
            return;
        }
        if (format_ == "csv") {
            std::cout << "tag,type,value" << (hex_ ? ",hex" : "") << ",error\n";
            for (const TagReading& r : results) {
                std::cout << csvField(r.tag) << "," << r.type << ","
                          << csvField(r.ok ? toText(r.value, false) : "");
                if (hex_) {
                    std::cout << "," << csvField(r.ok ? hexText(r.value) : "");
                }
                std::cout << "," << csvField(r.ok ? "" : r.message()) << "\n";
            }
            return;
        }
        for (const TagReading& r : results) {
            if (r.ok) {
                std::cout << r.tag << " = " << toText(r.value, hex_) << "\n";
            } else {
                std::cerr << "qarn: " << r.tag << ": " << r.message() << "\n";
            }
        }
    }

    std::vector<std::string> tags_;
    std::string format_ = "text";
    bool hex_ = false;
};

}  // namespace

QARN_REGISTER_COMMAND(ReadCommand)

}  // namespace qarn
