// qarn read TAG...: reads tags and prints their values. With --count N, N consecutive items of
// one tag's type, one row each, read in as few requests as the plug-in allows.

#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <vector>

#include <qarn/commission/RangeRead.h>
#include <qarn/host/IProtocol.h>
#include <qarn/output/ReadOutput.h>
#include <qarn/output/Records.h>
#include <qarn/toolkit/Errors.h>
#include <qarn/toolkit/NodeGuard.h>
#include <qarn/toolkit/Progress.h>
#include <qarn/toolkit/Session.h>
#include <qarn/toolkit/StopOnSignal.h>
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
        app.add_option("--format", format_, "output format (with --count: text is a table)")
            ->check(CLI::IsMember({"text", "table", "json", "csv"}))
            ->capture_default_str();
        app.add_flag("--hex", hex_, "show integers in hex too");
        app.add_option("--count", count_,
                       "read N consecutive items of the tag's type from its address on, one row "
                       "each: address, hex, value (16-bit types also unsigned, signed, ASCII)")
            ->check(CLI::Range(1, 65536))
            ->type_name("N");
    }

    int run(CommandContext& context) override {
        if (count_ > 0) {
            return readRange(context);
        }
        const ReadFormat format = readFormat(format_ == "table" ? "text" : format_);
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
    int readRange(CommandContext& context) {
        if (tags_.size() != 1) {
            throw UsageError("--count reads the items from one TAG on; give exactly one");
        }
        const RecordFormat format = recordFormat(format_);
        Session& session = context.session();
        IProtocol& p = session.started();
        session.checkTag(tags_[0], TagAccess::Read);
        RangeRead range(p, tags_[0], count_);
        CycleSummary summary;
        {
            const StopOnSignal stopper;
            int done = 0;
            std::unique_ptr<Progress> progress;
            ScanHooks hooks;
            hooks.beforeRead = [&session, &progress, &done] {
                session.clearPortError();
                progress->update(done++);
            };
            hooks.errorText = [&session] { return session.lastErrorText(); };
            hooks.stopRequested = StopOnSignal::stopRequested;
            const size_t requests = range.plan(std::move(hooks));
            progress = std::make_unique<Progress>("read", static_cast<int>(requests));
            session.setCancelFd(stopper.cancelFd());
            summary = range.run();
            session.setCancelFd(-1);
        }
        size_t read = 0;
        size_t failed = 0;
        for (const RangeItem& item : range.items()) {
            read += item.read ? 1 : 0;
            failed += item.read && !item.ok ? 1 : 0;
        }
        rangeRecords(range.items(), range.sixteenBit(), format != RecordFormat::Table || failed > 0)
            .print(format, std::cout);
        if (!summary.complete) {
            std::cerr << "qarn: stopped: " << read << " of " << range.items().size()
                      << " items read\n";
            return ExitFailure;
        }
        if (failed > 0) {
            std::cerr << "qarn: " << failed << " of " << range.items().size()
                      << " items not read\n";
            return ExitFailure;
        }
        return ExitOk;
    }

    std::vector<std::string> tags_;
    int count_ = 0;
    std::string format_ = "text";
    bool hex_ = false;
};

}  // namespace

std::unique_ptr<Command> makeReadCommand() {
    return std::make_unique<ReadCommand>();
}

}  // namespace qarn
