// qarn poll TAG... : reads a set of tags over and over, merging neighbouring tags into one
// request as a host does, and shows them as a live table or logs them as CSV or JSON lines.

#include <CLI/CLI.hpp>
#include <iostream>
#include <string>
#include <vector>

#include <qarn/mqtt/MqttPollOutput.h>
#include <qarn/output/PollFormats.h>
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
        app.add_flag("--plan", showPlan_, "print the requests the tags are read with, then exit");
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
        for (const TagSpec& spec : specs) {
            const std::string why = broker != nullptr ? topicLevelProblem(spec.name) : "";
            if (!why.empty()) {
                throw UsageError(spec.origin + ": tag name '" + spec.name + "' " + why);
            }
        }

        Session& session = context.session();
        // Planning needs the tags only; the line is opened to poll.
        Poller poller(session, showPlan_ ? session.configured() : session.started(), specs);
        if (showPlan_) {
            printPlan(poller);
            return ExitOk;
        }
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
        return last.complete && last.failedTags == 0 ? ExitOk : ExitFailure;
    }

  private:
    static void printPlan(const Poller& poller) {
        const std::vector<ScanGroup>& plan = poller.scan().plan();
        std::cout << poller.tags().size() << " tags in " << plan.size() << " reads ("
                  << poller.scan().lineRequests() << " on the line):\n";
        for (size_t i = 0; i < plan.size(); ++i) {
            const ScanGroup& g = plan[i];
            std::cout << "  " << i + 1 << ": " << g.length << " bytes from byte " << g.byteOffset
                      << (g.onLine ? "" : " (answered by the driver)") << ":";
            for (const size_t t : g.tags) {
                std::cout << " " << poller.tags()[t].name;
            }
            std::cout << "\n";
        }
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
