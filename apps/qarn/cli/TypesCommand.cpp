// qarn types: the data types a tag address can name, the conversions, and recipes for the byte
// orders devices commonly use. Every area, picture and example value is the plug-in's own answer.

#include <CLI/CLI.hpp>
#include <iostream>
#include <sstream>

#include <qarn/commission/TypeCatalogue.h>
#include <qarn/host/IProtocol.h>
#include <qarn/output/Records.h>
#include <qarn/toolkit/Errors.h>
#include <qarn/toolkit/Session.h>
#include "Commands.h"

namespace qarn {

namespace {

class TypesCommand final : public Command {
  public:
    const char* name() const override { return "types"; }
    bool talksToLine() const override { return false; }
    const char* summary() const override {
        return "list the data types, the conversions and recipes for common byte orders";
    }

    void define(CLI::App& app) override {
        app.add_option("--format", format_,
                       "table, csv (three blocks, a blank line between) or json (an object of "
                       "three lists: types, conversions, recipes)")
            ->check(CLI::IsMember({"table", "text", "csv", "json"}))
            ->capture_default_str();
        app.footer(
            "A tag's type field is TYPE[-COUNT][(CONVERSION,...)]: the count comes before the "
            "conversions, e.g. string-8(swap2). Reading, the conversions are undone last to "
            "first. Registers come from the device high byte first; without conversions the "
            "plug-in reads 32- and 64-bit values low word first.");
    }

    int run(CommandContext& context) override {
        const RecordFormat format = recordFormat(format_);
        // The plug-in answers without a line: its tags only need a configuration.
        IProtocol& p = context.session().protocol();
        if (!p.Config(OfflineConfiguration)) {
            context.session().fail("the plug-in refused the configuration for its tags");
        }
        const TypeCatalogue catalogue = buildTypeCatalogue(p);

        Records types({"type", "size", "areas", "what"});
        for (const TypeEntry& t : catalogue.types) {
            types.add({t.name, t.size, t.areas, t.what});
        }
        Records conversions({"conversion", "what", "picture"});
        for (const ConversionEntry& c : catalogue.conversions) {
            conversions.add({c.name, c.what, c.picture});
        }
        Records recipes({"device stores", "type", "example"});
        for (const Recipe& r : catalogue.recipes) {
            recipes.add({r.device, r.dataType, r.example});
        }

        if (format == RecordFormat::Json) {
            std::cout << "{\"types\": " << json(types) << ", \"conversions\": " << json(conversions)
                      << ", \"recipes\": " << json(recipes) << "}\n";
            return ExitOk;
        }
        const bool table = format == RecordFormat::Table;
        if (table) {
            std::cout << "Data types (TYPE, or TYPE-N for N items):\n";
        }
        types.print(format, std::cout);
        std::cout << (table ? "\nConversions (TYPE(CONVERSION,...)); pictures show the bytes "
                              "A, B, ... of a value, a space between registers:\n"
                            : "\n");
        conversions.print(format, std::cout);
        std::cout << (table ? "\nRecipes (registers as the device sends them -> what the "
                              "plug-in reads):\n"
                            : "\n");
        recipes.print(format, std::cout);
        return ExitOk;
    }

  private:
    static std::string json(const Records& records) {
        std::ostringstream text;
        records.print(RecordFormat::Json, text);
        std::string s = text.str();
        while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) {
            s.pop_back();
        }
        return s;
    }

    std::string format_ = "table";
};

}  // namespace

std::unique_ptr<Command> makeTypesCommand() {
    return std::make_unique<TypesCommand>();
}

}  // namespace qarn
