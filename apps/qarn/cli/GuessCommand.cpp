// qarn guess ADDRESS: how the device stores a value. Reads a window of registers once and lets
// the plug-in decode it under every data type and byte order; with --value or --text, lists the
// tag addresses that give that value, best first, ready to paste.

#include <CLI/CLI.hpp>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include <qarn/commission/ByteOrderGuess.h>
#include <qarn/commission/TagAddress.h>
#include <qarn/host/IProtocol.h>
#include <qarn/output/ReadOutput.h>
#include <qarn/output/Records.h>
#include <qarn/toolkit/Errors.h>
#include <qarn/toolkit/NodeGuard.h>
#include <qarn/toolkit/Session.h>
#include <qarn/toolkit/StopOnSignal.h>
#include "Commands.h"

namespace qarn {

namespace {

// The Modbus limit of one read of registers.
constexpr int MaxRegisters = 125;

std::string numberText(double value) {
    char text[64];
    const auto r = std::to_chars(text, text + sizeof text, value);
    return std::string(text, r.ptr);
}

double parseValue(const std::string& text) {
    double value = 0;
    const char* begin = text.data() + (!text.empty() && text[0] == '+' ? 1 : 0);
    const char* end = text.data() + text.size();
    const auto r = std::from_chars(begin, end, value);
    if (text.empty() || r.ec != std::errc() || r.ptr != end || !std::isfinite(value)) {
        throw UsageError("--value must be a number, not '" + text + "'");
    }
    return value;
}

class GuessCommand final : public Command {
  public:
    const char* name() const override { return "guess"; }
    const char* summary() const override {
        return "find the data type and byte order that give a known value";
    }

    void define(CLI::App& app) override {
        app.add_option("ADDRESS", address_,
                       "where the value lies: NODE?MEMTYPE?ADDRESS, e.g. 1?HREG?400100")
            ->required();
        app.add_option("--value", value_, "the number the device holds there (e.g. 230.5)");
        app.add_option("--text", text_, "the text the device holds there");
        app.add_option("--tolerance", tolerance_,
                       "how far a decoded number may be from --value: absolute (0.05) or a "
                       "percentage of it (0.1%); default: exact, as the type stores it");
        app.add_option("--registers", registers_, "registers to read from ADDRESS on")
            ->check(CLI::Range(1, MaxRegisters))
            ->capture_default_str();
        app.add_option("--format", format_, "table, csv or json")
            ->check(CLI::IsMember({"table", "text", "csv", "json"}))
            ->capture_default_str();
        app.footer(
            "Without --value or --text, every interpretation of the registers is listed: each "
            "integer type unsigned and signed, float, double and a string, under every byte "
            "order, and the registers in hex.\n"
            "Byte orders are written with swap2, swap4 and swap8 in that order; they commute, so "
            "float(swap2,swap4) and float(swap4,swap2) read alike. 'qarn types' explains them.\n"
            "Exit status: 0 when something matched (or with neither option), 1 when nothing did "
            "or the registers could not be read, 2 for bad usage.");
    }

    int run(CommandContext& context) override {
        if (value_ && text_) {
            throw UsageError("give --value or --text, not both");
        }
        if (tolerance_ && !value_) {
            throw UsageError("--tolerance goes with --value");
        }
        if (text_ && text_->empty()) {
            throw UsageError("--text must not be empty");
        }
        const RecordFormat format = recordFormat(format_);
        const Tolerance tolerance = tolerance_ ? parseTolerance(*tolerance_) : Tolerance{};
        const double target = value_ ? parseValue(*value_) : 0.0;
        const TagAddress base = TagAddress::parse(address_, false);
        if (!base.type.empty()) {
            throw UsageError("'" + address_ + "': give the address without a data type (" +
                             base.place() + "); guess finds the type");
        }
        // A text longer than the window widens it.
        int registers = registers_;
        if (text_) {
            registers = std::max(registers, static_cast<int>((text_->size() + 1) / 2));
            if (registers > MaxRegisters) {
                throw UsageError("--text is longer than one read of registers holds");
            }
        }
        const std::vector<Interpretation> interpretations =
            text_    ? textInterpretations(text_->size(), registers)
            : value_ ? numberInterpretations(registers)
                     : allInterpretations(registers);

        Session& session = context.session();
        IProtocol& p = session.started();
        session.checkTag(base.with("unsignedShort"), TagAccess::Read);
        ScanHooks hooks;
        hooks.beforeRead = [&session] { session.clearPortError(); };
        hooks.errorText = [&session] { return session.lastErrorText(); };
        hooks.stopRequested = StopOnSignal::stopRequested;
        WindowReading reading;
        {
            const StopOnSignal stopper;
            session.setCancelFd(stopper.cancelFd());
            reading = readWindow(p, base, registers, interpretations, std::move(hooks));
            session.setCancelFd(-1);
        }

        if (format == RecordFormat::Table) {
            std::cout << base.place() << " +" << registers << " registers:";
            char digits[8];
            for (const uint16_t r : reading.registers) {
                std::snprintf(digits, sizeof digits, " %04X", r);
                std::cout << digits;
            }
            std::cout << "\n";
        }
        if (!value_ && !text_) {
            printAll(base, reading, format);
            return ExitOk;
        }
        const std::vector<Match> matches = value_
                                               ? matchNumber(reading.candidates, target, tolerance)
                                               : matchText(reading.candidates, *text_);
        Records records(value_ ? std::vector<std::string>{"tag", "value", "difference"}
                               : std::vector<std::string>{"tag", "value"});
        for (const Match& m : matches) {
            const Candidate& c = reading.candidates[m.candidate];
            std::vector<Cell> row = {c.tag, valueText(c.value, format == RecordFormat::Table)};
            if (value_) {
                row.push_back(numberText(m.difference));
            }
            records.add(std::move(row));
        }
        if (matches.empty()) {
            if (format != RecordFormat::Table) {
                records.print(format, std::cout);
            }
            std::cerr << "qarn: no data type and byte order reads "
                      << (value_ ? *value_ : "'" + *text_ + "'") << " at " << base.place()
                      << (value_ && !tolerance_ ? " exactly (--tolerance allows a difference)" : "")
                      << "; 'qarn guess " << base.place() << "' lists every interpretation\n";
            return ExitFailure;
        }
        records.print(format, std::cout);
        return ExitOk;
    }

  private:
    static void printAll(const TagAddress& base, const WindowReading& reading,
                         RecordFormat format) {
        Records records({"tag", "value"});
        // The registers themselves first: the hex row, a tag of its own.
        std::string hex;
        char digits[8];
        for (const uint16_t r : reading.registers) {
            std::snprintf(digits, sizeof digits, "0x%04X", r);
            hex += (hex.empty() ? "" : ",") + std::string(digits);
        }
        records.add({base.with("unsignedShort-" + std::to_string(reading.registers.size())), hex});
        for (const Candidate& c : reading.candidates) {
            records.add({c.tag, c.ok ? Cell(valueText(c.value, format == RecordFormat::Table))
                                     : Cell("(" + c.error + ")")});
        }
        records.print(format, std::cout);
    }

    std::string address_;
    std::optional<std::string> value_;
    std::optional<std::string> text_;
    std::optional<std::string> tolerance_;
    int registers_ = 4;
    std::string format_ = "table";
};

}  // namespace

std::unique_ptr<Command> makeGuessCommand() {
    return std::make_unique<GuessCommand>();
}

}  // namespace qarn
