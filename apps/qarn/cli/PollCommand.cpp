// qarn poll TAG... : reads a set of tags over and over, merging neighbouring tags into one
// request as a host does, and shows them as a live table or logs them as CSV or JSON lines.

#include <CLI/CLI.hpp>
#include <iostream>
#include <string>
#include <vector>

#include <qarn/mqtt/MqttPollOutput.h>
#include <qarn/output/PollFormats.h>
#include <qarn/output/Records.h>
#include <qarn/scan/Poller.h>
#include <qarn/scan/TagList.h>
#include <qarn/toolkit/Errors.h>
#include <qarn/toolkit/LineOptions.h>
#include <qarn/toolkit/Session.h>
#include <qarn/toolkit/StopOnSignal.h>
#include "Commands.h"

namespace qarn {

namespace {

class PollCommand final : public Command {
  public:
    const char* name() const override { return "poll"; }
    const char* summary() const override {
        return "read tags cyclically, neighbours merged into block requests";
    }

    void define(CLI::App& app) override {
        app.add_option("TAG", arguments_,
                       "tag address NODE?MEMTYPE?ADDRESS[.SUB]?TYPE, or NAME=ADDRESS");
        app.add_option("--tags", tagFile_,
                       "file of tags, one a line: NAME ADDRESS ('#' starts a comment)");
        app.add_option("--interval", intervalMs_, "ms from the start of one cycle to the next")
            ->check(CLI::NonNegativeNumber)
            ->capture_default_str();
        app.add_option("--count", count_, "cycles to poll; 0 polls until Ctrl-C")
            ->check(CLI::NonNegativeNumber)
            ->capture_default_str();
        app.add_option("--format", format_,
                       "table (redrawn in place on a terminal), csv or jsonl (time-stamped "
                       "lines for logs); auto: table on a terminal, else csv")
            ->check(CLI::IsMember({"auto", "table", "csv", "jsonl"}))
            ->capture_default_str();
        app.add_flag("--plan", showPlan_,
                     "print the requests the tags are read with (node, function, start, count), "
                     "then exit; needs no device (csv or jsonl: a CSV or JSON list)");
        addMqttOptions(app, mqtt_);
        app.footer(
            "Exit status: 0 when every tag of the last cycle was read; 1 when one failed, no "
            "cycle was completed or the line could not be set up; 2 for bad usage.");
    }

    int run(CommandContext& context) override {
        // The broker settings are checked before the line is touched.
        std::unique_ptr<MqttClient> broker;
        if (!mqtt_.url.empty() && !showPlan_) {
            const std::string& ident = context.options().ident;
            const std::string why = topicLevelProblem(ident.empty() ? "QARN" : ident);
            if (!why.empty()) {
                throw UsageError("--ident '" + ident + "' " + why);
            }
            broker = std::make_unique<MqttClient>(mqttSettings(mqtt_));
        }
        std::vector<TagSpec> specs;
        if (!tagFile_.empty()) {
            specs = readTagList(tagFile_);
        }
        for (size_t i = 0; i < arguments_.size(); ++i) {
            specs.push_back(parseTagArgument(arguments_[i], static_cast<int>(i) + 1));
        }
        checkTagNames(specs);
        for (const TagSpec& entry : specs) {
            const std::string why = broker != nullptr ? topicLevelProblem(entry.name) : "";
            if (!why.empty()) {
                throw UsageError(entry.origin + ": tag name '" + entry.name + "' " + why);
            }
        }

        if (showPlan_) {
            printPlan(context.options(), specs);
            return ExitOk;
        }
        Session& session = context.session();
        Poller poller(session, session.started(), specs);
        PollSettings settings;
        settings.count = count_;
        settings.interval = std::chrono::milliseconds(intervalMs_);
        const PollDisplay display = pollDisplay(format_);
        std::unique_ptr<PollOutput> output = makePollOutput(display, std::cout, poller.tags());
        if (broker != nullptr) {
            // The topic level of the line is the instance name.
            const std::string& ident = context.options().ident;
            output = std::make_unique<MqttPollOutput>(*broker, ident.empty() ? "QARN" : ident,
                                                      poller.tags(),
                                                      static_cast<double>(intervalMs_),
                                                      std::move(output));
        }
        CycleSummary last;
        {
            // Ctrl-C ends a wait for an answer too, not only the wait between cycles.
            const StopOnSignal stopper;
            session.setCancelFd(stopper.cancelFd());
            last = poller.run(settings, *output);
            session.setCancelFd(-1);
        }
        if (display.format != PollFormat::Table && last.complete) {
            std::cerr << "qarn poll: last cycle: " << summaryText(last) << "\n";
        }
        // The table notes each one in its summary line; logs carry it per cycle in JSON only.
        if (display.format != PollFormat::Table && poller.overruns() > 0) {
            std::cerr << "qarn poll: " << poller.overruns()
                      << (poller.overruns() == 1 ? " cycle" : " cycles")
                      << " took longer than the --interval of " << intervalMs_ << " ms\n";
        }
        return last.complete && last.failedTags == 0 ? ExitOk : ExitFailure;
    }

  private:
    // The plan needs the line's configuration (the models set the request sizes) but not the
    // line: without one, the quick form's defaults and a device that is never opened.
    void printPlan(const LineOptions& given, const std::vector<TagSpec>& specs) const {
        LineOptions options = given;
        if (!hasLine(options)) {
            options.device = "/dev/null";
        }
        Session session(options);
        const Poller poller(session, session.configured(), specs);
        const std::vector<ScanGroup>& plan = poller.scan().plan();
        const std::vector<PlannedRequest> requests = poller.requests();
        Records records(
            {"request", "node", "function", "what", "start", "address", "count", "tags"});
        for (size_t i = 0; i < plan.size(); ++i) {
            const PlannedRequest& r = requests[i];
            std::string names;
            for (const size_t t : plan[i].tags) {
                names += (names.empty() ? "" : " ") + poller.tags()[t].name;
            }
            if (r.function == 0) {
                const char* what = plan[i].onLine ? "unknown area" : "answered by the driver";
                records.add({static_cast<long long>(i + 1), r.node, Cell(), what, Cell(), Cell(),
                             Cell(), names});
            } else {
                records.add({static_cast<long long>(i + 1), r.node, r.function,
                             functionName(r.function), r.start,
                             static_cast<long long>(tagAddress(r.function, r.start)), r.count,
                             names});
            }
        }
        // "auto" means the table here: a plan is read by people, and its lines fit a pipe too.
        const PollFormat format =
            format_ == "auto" ? PollFormat::Table : pollFormat(format_, false);
        if (format == PollFormat::Table) {
            std::cout << poller.tags().size() << " tags in " << plan.size() << " reads ("
                      << poller.scan().lineRequests() << " on the line):\n";
        }
        records.print(format == PollFormat::Table ? RecordFormat::Table
                      : format == PollFormat::Csv ? RecordFormat::Csv
                                                  : RecordFormat::Json,
                      std::cout);
    }

    std::vector<std::string> arguments_;
    std::string tagFile_;
    long intervalMs_ = 1000;
    unsigned long count_ = 0;
    std::string format_ = "auto";
    bool showPlan_ = false;
    MqttOptions mqtt_;
};

}  // namespace

std::unique_ptr<Command> makePollCommand() {
    return std::make_unique<PollCommand>();
}

}  // namespace qarn
