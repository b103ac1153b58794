// qarn scan: which nodes answer on a line; with --settings, at which line settings a node
// answers.

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <qarn/commission/ConfigText.h>
#include <qarn/commission/NodeList.h>
#include <qarn/commission/NodeProber.h>
#include <qarn/commission/SettingsSearch.h>
#include <qarn/output/Records.h>
#include <qarn/rtu/Frame.h>
#include <qarn/rtu/LineSettings.h>
#include <qarn/toolkit/Errors.h>
#include <qarn/toolkit/LineOptions.h>
#include <qarn/toolkit/Progress.h>
#include <qarn/toolkit/Session.h>
#include <qarn/toolkit/StopOnSignal.h>
#include "Commands.h"

namespace qarn {

namespace {

const char* const Footer =
    "Each node gets one read of one register (--probe), no repeats. The time-out (--probe-timeout) "
    "and the late-answer guard (--late-guard) that follows a silent node are chosen from the "
    "line speed: the request and answer on the line plus 80 ms for the slave, rounded up to 10 "
    "ms, and half of that: at 9600 baud 110 + 60 ms per silent node, so 1-247 takes about 42 s; "
    "1200 baud 290 + 150 ms; 115200 baud 90 + 50 ms. An exception answer counts as present. "
    "--settings tries 8N1 and 8E1, then 8N2 and 8O1, then 8E2 and 8O2, each at 9600, 19200, "
    "38400, 115200, 57600, 4800, 2400 and 1200 baud, until --node answers. The table, CSV or JSON "
    "rows go to standard output, then the configuration string found (to standard error for CSV "
    "and JSON). Exit status 0 when a node answered, 1 when none did or Ctrl-C stopped the scan "
    "(what was found so far is printed).";

std::string shellQuoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

class ScanCommand final : public Command {
  public:
    const char* name() const override { return "scan"; }
    const char* summary() const override {
        return "find the nodes that answer, or the line settings a node answers at";
    }

    void define(CLI::App& app) override {
        app_ = &app;
        app.add_option("--nodes", nodes_, "nodes to probe: a list of numbers and ranges")
            ->capture_default_str();
        app.add_flag("--settings", settings_,
                     "find the baud rate, parity and stop bits that --node answers at");
        app.add_option("--probe", probe_, "the harmless read, MEMTYPE?ADDRESS?TYPE without node")
            ->capture_default_str();
        app.add_option("--probe-timeout", probeTimeoutMs_,
                       "time-out of each probe in ms (default: chosen from the line speed)")
            ->check(CLI::PositiveNumber)
            ->type_name("MS");
        app.add_option("--format", format_, "table, csv or json")
            ->check(CLI::IsMember({"table", "text", "csv", "json"}))
            ->capture_default_str();
        app.footer(Footer);
    }

    int run(CommandContext& context) override {
        format_ = format_ == "text" ? "table" : format_;
        const RecordFormat format = recordFormat(format_);
        const LineOptions& options = context.options();
        // The configuration as given: the probes run on a copy with a short time-out and no
        // repeats; the ready string keeps the user's own.
        const std::string config = configurationString(options);
        if (settings_) {
            if (app_->count("--node") == 0) {
                throw UsageError("--settings needs --node N, the node to look for");
            }
            if (options.node < 1 || options.node > rtu::MaxNode) {
                throw UsageError("--node " + std::to_string(options.node) + " is outside 1.." +
                                 std::to_string(rtu::MaxNode));
            }
            if (app_->count("--nodes") > 0) {
                throw UsageError("--settings looks for one node: give --node N, not --nodes");
            }
            return searchSettings(options, config, format);
        }
        return scanNodes(options, config, format);
    }

  private:
    // The session of the probes: the given options with `config` in place of the line options.
    Session& probeSession(const LineOptions& options, const std::string& config) {
        probeOptions_ = options;
        probeOptions_.config = config;
        probeOptions_.configFile.clear();
        probeOptions_.quickGiven = false;
        session_ = std::make_unique<Session>(probeOptions_);
        return *session_;
    }

    ProbeHooks hooks(Session& session) const {
        ProbeHooks h;
        h.beforeProbe = [&session] { session.clearPortError(); };
        h.report = [&session] { return &session.lineReport(); };
        return h;
    }

    ProbeTiming timingFor(const LineOptions& options, int baud, rtu::Parity parity,
                          int stopBits) const {
        ProbeTiming t = probeTiming(baud, parity, stopBits);
        if (probeTimeoutMs_ > 0) {
            t.timeoutMs = probeTimeoutMs_;
        }
        if (options.lateGuardMs) {
            t.guardMs = *options.lateGuardMs;
        }
        return t;
    }

    int scanNodes(const LineOptions& options, const std::string& config, RecordFormat format) {
        const std::vector<int> nodes = parseNodeList(nodes_);
        const std::string baudText = configValue(config, "baudrate");
        const int baud = std::atoi(baudText.c_str());
        if (!rtu::isStandardBaud(baud)) {
            throw UsageError("baudrate '" + baudText + "' is no standard rate");
        }
        rtu::Parity parity = rtu::Parity::None;
        rtu::parseParity(configValue(config, "parity"), parity);
        const int stopBits = configValue(config, "stopbits") == "2" ? 2 : 1;
        const ProbeTiming timing = timingFor(options, baud, parity, stopBits);

        std::string probeConfig =
            withConfigValue(config, "timeout", std::to_string(timing.timeoutMs));
        probeConfig = withConfigValue(probeConfig, "repeat", "0");
        Session& session = probeSession(options, probeConfig);
        session.host().serialFactory().setLateGuardMs(timing.guardMs);
        IProtocol& protocol = session.started();
        NodeProber prober(protocol, probe_, hooks(session));
        prober.setGuardMs(timing.guardMs);

        std::vector<NodeProbe> found;
        bool stopped = false;
        const auto start = std::chrono::steady_clock::now();
        {
            const StopOnSignal stopper;
            session.setCancelFd(stopper.cancelFd());
            Progress progress("scan", static_cast<int>(nodes.size()));
            for (size_t i = 0; i < nodes.size() && !stopped; ++i) {
                progress.update(static_cast<int>(i), "node " + std::to_string(nodes[i]));
                const NodeProbe probe = prober.probe(nodes[i]);
                stopped = probe.state == NodeState::Stopped || StopOnSignal::stopRequested();
                if (probe.state != NodeState::Stopped) {
                    found.push_back(probe);
                }
            }
            progress.clear();
            session.setCancelFd(-1);
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

        Records rows({"node", "result", "latency_ms"});
        std::string present;
        std::string garbled;
        int firstPresent = 0;
        int count = 0;
        for (const NodeProbe& p : found) {
            rows.add({p.node, resultText(p), isPresent(p) ? Cell(p.latencyMs, 1) : Cell()});
            if (isPresent(p)) {
                present += (present.empty() ? "" : ", ") + std::to_string(p.node);
                firstPresent = firstPresent == 0 ? p.node : firstPresent;
                ++count;
            } else if (p.state == NodeState::Garbled) {
                garbled +=
                    (garbled.empty() ? "" : ", ") + std::to_string(p.node) + " (" + p.detail + ")";
            }
        }
        rows.print(format, std::cout);
        std::ostream& notes = format == RecordFormat::Table ? std::cout : std::cerr;
        char elapsed[32];
        std::snprintf(elapsed, sizeof elapsed, "%.1f s", seconds);
        notes << (stopped ? "stopped: " : "") << count << " of " << found.size()
              << " nodes probed answered" << (present.empty() ? "" : ": " + present) << " ("
              << elapsed << "; time-out " << timing.timeoutMs << " ms, guard " << timing.guardMs
              << " ms)\n";
        if (!garbled.empty()) {
            notes << "garbled answers (other line settings? try --settings): " << garbled << "\n";
        }
        if (firstPresent != 0) {
            notes << "--config "
                  << shellQuoted(withConfigValue(config, "defNodeId", std::to_string(firstPresent)))
                  << "\n";
        }
        return firstPresent != 0 && !stopped ? ExitOk : ExitFailure;
    }

    int searchSettings(const LineOptions& options, const std::string& config, RecordFormat format) {
        const std::vector<LineSetting> order = searchOrder();
        Session& session = probeSession(options, withConfigValue(config, "repeat", "0"));
        IProtocol& protocol = session.started();
        NodeProber prober(protocol, probe_, hooks(session));
        SearchResult result;
        {
            const StopOnSignal stopper;
            session.setCancelFd(stopper.cancelFd());
            Progress progress("settings", static_cast<int>(order.size()));
            SearchHooks search;
            search.stopRequested = [] { return StopOnSignal::stopRequested(); };
            search.beforeTry = [&](const LineSetting& s, const ProbeTiming&, size_t index) {
                const ProbeTiming t = timingFor(options, s.baud, s.parity, s.stopBits);
                session.host().serialFactory().setLateGuardMs(t.guardMs);
                prober.setGuardMs(t.guardMs);
                progress.update(static_cast<int>(index), settingName(s));
            };
            SettingsSearch searcher(protocol, prober, config, search);
            result = searcher.run(options.node, order);
            progress.clear();
            session.setCancelFd(-1);
        }
        if (!result.found) {
            std::cerr << "qarn: "
                      << (result.stopped
                              ? "stopped after " + std::to_string(result.tried) + " of " +
                                    std::to_string(order.size()) + " settings: node " +
                                    std::to_string(options.node) + " has not answered so far"
                              : "node " + std::to_string(options.node) +
                                    " answered at none of the " + std::to_string(result.tried) +
                                    " settings tried")
                      << (result.portRefusals.empty()
                              ? ""
                              : " (the port refused " + result.portRefusals + ")")
                      << "\n";
            return ExitFailure;
        }
        const LineSetting& s = result.setting;
        std::vector<std::string> columns = {"node",      "baud",   "parity",     "data_bits",
                                            "stop_bits", "result", "latency_ms", "tried"};
        std::vector<Cell> row = {options.node,
                                 s.baud,
                                 rtu::parityName(static_cast<int>(s.parity)),
                                 8,
                                 s.stopBits,
                                 resultText(result.probe),
                                 Cell(result.probe.latencyMs, 1),
                                 static_cast<int>(result.tried)};
        if (format != RecordFormat::Table) {
            columns.push_back("config");
            row.push_back(result.config);
        }
        Records rows(columns);
        rows.add(row);
        rows.print(format, std::cout);
        std::ostream& notes = format == RecordFormat::Table ? std::cout : std::cerr;
        notes << "node " << options.node << " answers at " << settingName(s) << "\n--config "
              << shellQuoted(result.config) << "\n";
        return ExitOk;
    }

    CLI::App* app_ = nullptr;
    std::string nodes_ = "1-247";
    bool settings_ = false;
    std::string probe_ = "HREG?400001?unsignedShort";
    int probeTimeoutMs_ = 0;
    std::string format_ = "table";
    LineOptions probeOptions_;
    std::unique_ptr<Session> session_;
};

}  // namespace

std::unique_ptr<Command> makeScanCommand() {
    return std::make_unique<ScanCommand>();
}

}  // namespace qarn
