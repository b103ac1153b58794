// qarn gateway CONFIG: several lines polled in one process, each on its own thread, their values
// published to an MQTT broker; SIGHUP reloads the file.

#include <signal.h>

#include <CLI/CLI.hpp>
#include <iostream>
#include <string>

#include <qarn/gateway/Gateway.h>
#include <qarn/gateway/GatewayConfig.h>
#include <qarn/toolkit/Errors.h>
#include <qarn/toolkit/LineOptions.h>
#include "Commands.h"

namespace qarn {

namespace {

void printProblems(const char* what, const ConfigError& e) {
    std::cerr << "qarn gateway: " << what << ":\n";
    for (const std::string& p : e.problems()) {
        std::cerr << "  " << p << "\n";
    }
}

class GatewayCommand final : public Command {
  public:
    const char* name() const override { return "gateway"; }
    const char* summary() const override {
        return "poll several lines in parallel and publish their tags over MQTT";
    }
    // The lines and their port settings come from the file.
    bool talksToLine() const override { return false; }

    void define(CLI::App& app) override {
        app.add_option("CONFIG", path_, "the gateway's configuration file (TOML)")->required();
        app.add_flag("--check", check_,
                     "check the file (and each line's tags with the plug-in), then exit");
        app.add_flag("--plan", plan_, "print each line's requests, then exit");
        app.footer(
            "SIGHUP reloads CONFIG: lines whose settings did not change keep running; a file "
            "that does not check out is refused and the running one kept. SIGINT or SIGTERM "
            "end the gateway. Exit status: 0 after a stop, 2 for a bad file or usage.");
    }

    int run(CommandContext& context) override {
        if (hasLine(context.options())) {
            throw UsageError("the gateway's lines come from CONFIG, not from the line options");
        }
        // Every thread started from here on leaves these signals to the loop below.
        sigset_t signals;
        sigemptyset(&signals);
        sigaddset(&signals, SIGHUP);
        sigaddset(&signals, SIGINT);
        sigaddset(&signals, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &signals, nullptr);

        GatewayConfig config;
        try {
            config = loadGatewayConfig(path_);
        } catch (const ConfigError& e) {
            printProblems((path_ + " is not usable").c_str(), e);
            return ExitUsage;
        }
        Gateway gateway(context.options(), config);
        try {
            gateway.check(config, plan_ ? &std::cout : nullptr);
        } catch (const ConfigError& e) {
            printProblems((path_ + " is not usable").c_str(), e);
            return ExitUsage;
        }
        size_t tags = 0;
        for (const GatewayLine& line : config.lines) {
            tags += line.tags.size();
        }
        if (check_ || plan_) {
            std::cerr << "qarn gateway: " << path_ << ": " << config.lines.size() << " lines, "
                      << tags << " tags: good\n";
            return ExitOk;
        }
        gateway.start();
        std::cerr << "qarn gateway: " << config.lines.size() << " lines, " << tags
                  << " tags running\n";
        if (!gateway.webUrl().empty()) {
            std::cerr << "qarn gateway: serving " << gateway.webUrl() << "\n";
        }
        for (;;) {
            int signal = 0;
            if (sigwait(&signals, &signal) != 0) {
                continue;
            }
            if (signal != SIGHUP) {
                break;
            }
            try {
                const std::string changes = gateway.reload(loadGatewayConfig(path_));
                std::cerr << "qarn gateway: reloaded " << path_ << ": " << changes << "\n";
            } catch (const ConfigError& e) {
                printProblems("reload refused, the running configuration is kept", e);
            }
        }
        std::cerr << "qarn gateway: stopping\n";
        return ExitOk;
    }

  private:
    std::string path_;
    bool check_ = false;
    bool plan_ = false;
};

}  // namespace

std::unique_ptr<Command> makeGatewayCommand() {
    return std::make_unique<GatewayCommand>();
}

}  // namespace qarn
