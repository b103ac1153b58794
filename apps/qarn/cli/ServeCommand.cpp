// qarn serve --tags FILE: polls the tags as `qarn poll` does and serves a live page, a JSON API
// and Prometheus metrics over HTTP.

#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <qarn/refhost/EchoMode.h>
#include <qarn/scan/TagList.h>
#include <qarn/toolkit/Errors.h>
#include <qarn/toolkit/LineOptions.h>
#include <qarn/toolkit/Session.h>
#include <qarn/toolkit/StopOnSignal.h>
#include <qarn/web/LineState.h>
#include <qarn/web/LineWorker.h>
#include <qarn/web/Server.h>
#include "Commands.h"

namespace qarn {

namespace {

// "HOST:PORT", "[V6]:PORT" or "PORT" (on 127.0.0.1). Throws UsageError for anything else.
void parseListen(const std::string& text, std::string& host, int& port) {
    const size_t colon = text.rfind(':');
    std::string portText = colon == std::string::npos ? text : text.substr(colon + 1);
    host = colon == std::string::npos ? "127.0.0.1" : text.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    size_t used = 0;
    long value = -1;
    try {
        value = std::stol(portText, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (host.empty() || used == 0 || used != portText.size() || value < 0 || value > 65535) {
        throw UsageError("--listen " + text + ": give HOST:PORT, e.g. 127.0.0.1:8080");
    }
    port = static_cast<int>(value);
}

class ServeCommand final : public Command {
  public:
    const char* name() const override { return "serve"; }
    const char* summary() const override {
        return "poll tags and serve a live page, a JSON API and Prometheus metrics";
    }

    void define(CLI::App& app) override {
        app.add_option("TAG", arguments_,
                       "tag address NODE?MEMTYPE?ADDRESS[.SUB]?TYPE, or NAME=ADDRESS");
        app.add_option("--tags", tagFile_,
                       "file of tags, one a line: NAME ADDRESS ('#' starts a comment)");
        app.add_option("--listen", listen_,
                       "HOST:PORT to serve on; port 0 takes a free one (the URL is printed)")
            ->capture_default_str();
        app.add_option("--interval", intervalMs_, "ms from the start of one cycle to the next")
            ->check(CLI::NonNegativeNumber)
            ->capture_default_str();
        app.add_flag("--allow-writes", allowWrites_,
                     "take writes and node-ID changes through the page and the API");
        app.add_option("--token", token_,
                       "secret that every POST must carry as 'Authorization: Bearer TOKEN'; "
                       "needed for --allow-writes on an address other than loopback");
        app.footer(
            "The page, /api/... and /metrics are described in the README. Ctrl-C or SIGTERM "
            "stops the server. Exit status: 0 after a stop; 1 when the line or the address "
            "could not be set up; 2 for bad usage.");
    }

    int run(CommandContext& context) override {
        std::vector<TagSpec> specs;
        if (!tagFile_.empty()) {
            specs = readTagList(tagFile_);
        }
        for (size_t i = 0; i < arguments_.size(); ++i) {
            specs.push_back(parseTagArgument(arguments_[i], static_cast<int>(i) + 1));
        }
        checkTagNames(specs);

        web::ServerSettings settings;
        parseListen(listen_, settings.host, settings.port);
        settings.writes.allowWrites = allowWrites_;
        settings.writes.token = token_;
        const std::string problem = web::listenProblem(settings.host, settings.writes);
        if (!problem.empty()) {
            throw UsageError(problem);
        }

        const LineOptions& options = context.options();
        Session& session = context.session();
        // The ports report to the traffic view from the first frame on, and may until the
        // session is gone: the state outlives it.
        state_ = std::make_unique<web::LineState>(options.device.empty() ? "line" : options.device);
        web::LineState& state = *state_;
        session.addFrameSink(&state.traffic());
        web::WorkerSettings workerSettings;
        workerSettings.interval = std::chrono::milliseconds(intervalMs_);
        refhost::EchoMode echo = refhost::EchoMode::Auto;
        workerSettings.settleEcho =
            refhost::parseEchoMode(options.echo, echo) && echo == refhost::EchoMode::Auto;
        web::LineWorker worker(session, specs, state, workerSettings);

        web::Server server({&state}, settings);
        const int port = server.bind();
        const bool v6 = settings.host.find(':') != std::string::npos;
        std::cout << "http://" << (v6 ? "[" + settings.host + "]" : settings.host) << ":" << port
                  << "/" << std::endl;
        std::cerr << "qarn serve: serving " << specs.size() << " tags"
                  << (allowWrites_ ? ", writes on" : ", read-only") << "; Ctrl-C stops\n";
        {
            // Ctrl-C ends a wait for an answer too, not only the wait between cycles.
            const StopOnSignal stopper;
            session.setCancelFd(stopper.cancelFd());
            std::thread http([&server, &worker] {
                server.run();
                worker.stop();
            });
            worker.run();
            server.stop();
            http.join();
            session.setCancelFd(-1);
        }
        return ExitOk;
    }

  private:
    std::vector<std::string> arguments_;
    std::string tagFile_;
    std::string listen_ = "127.0.0.1:8080";
    long intervalMs_ = 1000;
    bool allowWrites_ = false;
    std::string token_;
    std::unique_ptr<web::LineState> state_;
};

}  // namespace

std::unique_ptr<Command> makeServeCommand() {
    return std::make_unique<ServeCommand>();
}

}  // namespace qarn
