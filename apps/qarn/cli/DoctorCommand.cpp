// qarn doctor: times the line over many reads and tells which time-out, delay, late-answer guard
// and echo setting it calls for.

#include <poll.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <qarn/commission/LineDoctor.h>
#include <qarn/host/IProtocol.h>
#include <qarn/output/Records.h>
#include <qarn/refhost/ExchangeTiming.h>
#include <qarn/toolkit/Errors.h>
#include <qarn/toolkit/LineOptions.h>
#include <qarn/toolkit/NodeGuard.h>
#include <qarn/toolkit/Progress.h>
#include <qarn/toolkit/Session.h>
#include <qarn/toolkit/StopOnSignal.h>
#include <qarn/toolkit/TagValue.h>
#include "Commands.h"

namespace qarn {

namespace {

constexpr int MaxNode = 247;
constexpr int MaxSpreadMs = 25;

// Waits `ms` unless the stop request comes first (false).
bool pause(int cancelFd, int ms) {
    pollfd pfd{cancelFd, POLLIN, 0};
    return poll(&pfd, cancelFd >= 0 ? 1 : 0, ms) <= 0;
}

int nodeNumber(const std::string& text, const std::string& list) {
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || n < 1 || n > MaxNode) {
        throw UsageError("--nodes " + list + ": '" + text + "' is no node number 1.." +
                         std::to_string(MaxNode));
    }
    return static_cast<int>(n);
}

// "1,2,5-7" in the order given, each node once.
std::vector<int> parseNodes(const std::string& list) {
    std::vector<int> nodes;
    std::set<int> seen;
    size_t start = 0;
    while (start <= list.size()) {
        const size_t comma = std::min(list.find(',', start), list.size());
        const std::string item = list.substr(start, comma - start);
        const size_t dash = item.find('-');
        const int first = nodeNumber(item.substr(0, dash), list);
        const int last = dash == std::string::npos ? first : nodeNumber(item.substr(dash + 1), list);
        if (last < first) {
            throw UsageError("--nodes " + list + ": the range " + item + " runs backwards");
        }
        for (int n = first; n <= last; ++n) {
            if (seen.insert(n).second) {
                nodes.push_back(n);
            }
        }
        start = comma + 1;
    }
    return nodes;
}

class DoctorCommand final : public Command {
  public:
    const char* name() const override { return "doctor"; }
    const char* summary() const override {
        return "time the line: latency, gaps, echo, USB bursts; recommends time-out, delay, "
               "late guard and echo";
    }

    void define(CLI::App& app) override {
        app.add_option("--count", count_,
                       "reads to make in all, spread over the nodes, with a random pause of up "
                       "to 25 ms between them")
            ->check(CLI::Range(1, 100000))
            ->capture_default_str();
        app.add_option("--nodes", nodes_,
                       "nodes to read from, e.g. 1,2,5-7 (default: --node); each is read at "
                       "holding register 400001")
            ->type_name("LIST");
        app.add_option("--tag", tags_,
                       "read this tag instead (repeatable), e.g. 3?IREG?300010?float")
            ->type_name("ADDRESS");
        app.add_option("--format", format_, "table, csv or json")
            ->check(CLI::IsMember({"table", "text", "csv", "json"}))
            ->capture_default_str();
    }

    int run(CommandContext& context) override {
        const RecordFormat format = recordFormat(format_);
        if (!tags_.empty() && !nodes_.empty()) {
            throw UsageError("give --nodes or --tag, not both");
        }
        std::vector<std::string> tags = tags_;
        if (tags.empty()) {
            const std::vector<int> nodes = nodes_.empty()
                                               ? std::vector<int>{context.options().node}
                                               : parseNodes(nodes_);
            for (const int node : nodes) {
                tags.push_back(std::to_string(node) + "?HREG?400001?unsignedShort");
            }
        }
        Session& session = context.session();
        IProtocol& p = session.started();
        for (const std::string& tag : tags) {
            session.checkTag(tag, TagAccess::Read);
        }

        std::vector<refhost::ExchangeTiming> samples;
        DoctorRun run;
        {
            const StopOnSignal stopper;
            session.setCancelFd(stopper.cancelFd());
            Progress progress("doctor", count_);
            // A read right after an answer comes in step with an adapter's bursts, which then
            // never show inside an answer: a random pause between the reads breaks the step.
            std::mt19937 random(std::random_device{}());
            std::uniform_int_distribution<int> spread(0, MaxSpreadMs);
            for (int i = 0; i < count_ && !StopOnSignal::stopRequested(); ++i) {
                if (i > 0 && !pause(stopper.cancelFd(), spread(random))) {
                    break;
                }
                const std::string& tag = tags[static_cast<size_t>(i) % tags.size()];
                progress.update(i, tag);
                const TagReading reading = readTag(session, p, tag);
                for (const refhost::ExchangeTiming& e : session.lineReport().exchanges) {
                    // A wait the stop request cut short measured nothing.
                    if (e.kind != refhost::ExchangeTiming::Kind::Cancelled) {
                        samples.push_back(e);
                    }
                }
                if (session.lineReport().cancelled) {
                    break;
                }
                ++run.transactions;
                run.failed += reading.ok ? 0 : 1;
            }
            progress.clear();
            session.setCancelFd(-1);
            run.stopped = StopOnSignal::stopRequested() || run.transactions < count_;
        }

        const DoctorReport report = analyse(samples, run);
        if (format == RecordFormat::Json) {
            std::cout << doctorJson(report) << "\n";
        } else {
            Records records({"item", "value", "note"});
            for (const DoctorRow& row : doctorRows(report)) {
                records.add({row.item, row.value, row.note});
            }
            records.print(format, std::cout);
        }
        if (report.answers == 0) {
            std::cerr << "qarn doctor: no answer: " << session.protocolError() << "\n";
            return ExitFailure;
        }
        return ExitOk;
    }

  private:
    int count_ = 50;
    std::string nodes_;
    std::vector<std::string> tags_;
    std::string format_ = "table";
};

}  // namespace

std::unique_ptr<Command> makeDoctorCommand() {
    return std::make_unique<DoctorCommand>();
}

}  // namespace qarn
