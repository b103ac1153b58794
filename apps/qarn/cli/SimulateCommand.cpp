// qarn simulate: Modbus RTU slaves (meters, ISMG devices, generic I/O or a profile file) on a
// pty or a serial device, to try the master, scripts and benchmarks without hardware.

#include <signal.h>

#include <CLI/CLI.hpp>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include <qarn/refhost/FrameTrace.h>
#include <qarn/rtu/LineSettings.h>
#include <qarn/sim/LineRunner.h>
#include <qarn/sim/Profile.h>
#include <qarn/sim/SlaveEngine.h>
#include <qarn/sim/SlaveFrames.h>
#include <qarn/toolkit/Errors.h>
#include <qarn/toolkit/LineOptions.h>
#include <qarn/toolkit/StopOnSignal.h>
#include "Commands.h"
#include "SimLine.h"

namespace qarn {

namespace {

// Shared options that configure the master and mean nothing to the simulated slaves.
const char* const MasterOnlyOptions[] = {
    "--config",   "--config-file", "--mode",        "--model",
    "--node",     "--timeout",     "--repeat",      "--preset-function",
    "--port-map", "--store",       "--store-reset", "--ident",
    "--plugin",   "--delay"};

struct FaultOption {
    const char* name;
    sim::Fault fault;
    const char* effect;
};
const FaultOption FaultOptions[] = {
    {"drop", sim::Fault::Drop, "lose the request (nothing done, no answer)"},
    {"bad-crc", sim::Fault::BadCrc, "break the answer's CRC"},
    {"wrong-node", sim::Fault::WrongNode, "answer with the next node's address"},
    {"exception", sim::Fault::Exception, "refuse with exception --exception-code"},
    {"delay", sim::Fault::Delay, "answer --delay-ms late"},
};

// Makes the simulation end; runs inside a signal handler, which LineRunner::stop() allows.
void stopRunner(void* runner) {
    static_cast<sim::LineRunner*>(runner)->stop();
}

class SimulateCommand final : public Command {
  public:
    const char* name() const override { return "simulate"; }
    bool talksToLine() const override { return false; }
    const char* summary() const override {
        return "simulate Modbus RTU slaves on a pty or a serial device";
    }

    void define(CLI::App& app) override {
        app_ = &app;
        const char* group = "Simulation";
        app.add_flag("--pty", pty_, "create a pty pair and serve it; its path is printed first")
            ->group(group);
        app.add_option("--serial", serial_, "serial device to serve (or --device PATH)")
            ->group(group);
        app.add_option("--slave", slaves_,
                       "a simulated device: NODE:PROFILE, PROFILE a model name (EM24, ISMG1xx, "
                       "generic, ...) or a profile file; repeatable")
            ->type_name("NODE:PROFILE")
            ->group(group);
        app.add_option("--seed", seed_, "seed of the live values and the injected faults")
            ->capture_default_str()
            ->group(group);
        app.add_flag("--pace,!--no-pace", pace_,
                     "send each byte at its character time, as a real line does (default on)")
            ->group(group);
        app.add_option("--show-profile", showProfile_,
                       "print a built-in profile in the profile file format and exit")
            ->group(group);
        app.add_option("--link", model_.link,
                       "with --pty: keep a symbolic link at PATH to the pty while serving, so "
                       "that a master finds a restarted simulator under one name")
            ->group(group);
        app.add_flag("--strict-line", strict_,
                     "with --pty: requests sent at another baud rate or stop bits than "
                     "--baud/--stopbits are received garbled, as by a real UART, and not answered")
            ->group(group);

        const char* models = "Line models";
        app.add_flag("--queue", model_.queue,
                     "answer requests that come while a slave answers, in order (default: a "
                     "half-duplex slave does not hear them)")
            ->group(models);
        app.add_option("--burst-ms", model_.burstMs,
                       "hand the answers over in bursts every N ms, like a USB adapter; 0: at once")
            ->check(CLI::NonNegativeNumber)
            ->type_name("N")
            ->group(models);
        app.add_flag("--echo", model_.echo,
                     "the master's own bytes come back to it before the answer (an adapter with "
                     "its receiver on)")
            ->group(models);
        app.add_option("--noise", model_.noise,
                       "probability 0..1 per answer of 1 to 8 random bytes after it")
            ->check(CLI::Range(0.0, 1.0))
            ->type_name("P")
            ->group(models);

        const char* faults = "Faults (with a probability, on every n-th request, or both)";
        for (size_t i = 0; i < sim::FaultCount; ++i) {
            const FaultOption& f = FaultOptions[i];
            const std::string name =
                f.fault == sim::Fault::Delay ? "--delay-probability" : std::string("--") + f.name;
            app.add_option(name, probability_[i], std::string("probability 0..1 to ") + f.effect)
                ->check(CLI::Range(0.0, 1.0))
                ->type_name("P")
                ->group(faults);
            app.add_option(std::string("--") + f.name + "-every", every_[i],
                           std::string("every N-th request: ") + f.effect)
                ->check(CLI::PositiveNumber)
                ->type_name("N")
                ->group(faults);
        }
        app.add_option("--delay-ms", delayMs_,
                       "how late a delayed answer is; alone it delays every answer")
            ->check(CLI::NonNegativeNumber)
            ->group(faults);
        app.add_option("--exception-code", exceptionCode_,
                       "exception code of the exception fault (default 4, failure in device)")
            ->check(CLI::Range(1, 255))
            ->group(faults);
        app.add_option("--fault-node", faultNodes_,
                       "faults, latency and jitter strike only this node; repeatable (default: "
                       "every node)")
            ->check(CLI::Range(1, static_cast<int>(sim::MaxNode)))
            ->type_name("NODE")
            ->group(faults);
        app.add_option("--latency-ms", latencyMs_, "every answer starts N ms later")
            ->check(CLI::NonNegativeNumber)
            ->type_name("N")
            ->group(faults);
        app.add_option("--jitter-ms", jitterMs_,
                       "and a random extra of up to N ms (uniform) or N ms on average "
                       "(exponential)")
            ->check(CLI::NonNegativeNumber)
            ->type_name("N")
            ->group(faults);
        app.add_option("--jitter", jitter_, "distribution of the extra: uniform or exponential")
            ->check(CLI::IsMember({"uniform", "exponential"}))
            ->capture_default_str()
            ->group(faults);
    }

    int run(CommandContext& context) override {
        if (!showProfile_.empty()) {
            return printProfile();
        }
        const LineOptions& options = context.options();
        for (const char* option : MasterOnlyOptions) {
            const CLI::Option* o = app_->get_option_no_throw(option);
            if (o != nullptr && o->count() > 0) {
                throw UsageError(std::string(option) +
                                 " configures the master; simulate does "
                                 "not take it");
            }
        }
        sim::LineSettings line = simLineSettings(options, pace_);
        line.queue = model_.queue;
        line.burstMs = model_.burstMs;
        line.echo = model_.echo;
        line.noise = model_.noise;
        line.link = model_.link;
        if (!options.device.empty() && !serial_.empty()) {
            throw UsageError("give the serial device once: --serial or --device");
        }
        const std::string serial = serial_.empty() ? options.device : serial_;
        if (pty_ == !serial.empty()) {
            throw UsageError("give either --pty or --serial PATH");
        }
        line.strict = strict_;
        if (strict_ && !pty_) {
            throw UsageError("--strict-line is for a pty (a serial device is strict by itself)");
        }
        if (!line.link.empty() && !pty_) {
            throw UsageError("--link is for a pty: give --pty");
        }
        if (slaves_.empty()) {
            throw UsageError("give at least one --slave NODE:PROFILE, e.g. --slave 1:EM24");
        }

        sim::SlaveEngine engine(seed_);
        std::string devices;
        for (const std::string& slave : slaves_) {
            addSlave(engine, slave);
        }
        for (const auto& [node, device] : engine.devices()) {
            devices += (devices.empty() ? "node " : ", node ") + std::to_string(node) + " " +
                       device->name();
        }
        engine.setFaults(faultConfig());

        sim::LineRunner runner(engine, line);
        std::string where = serial;
        if (pty_) {
            where = runner.openPty();
            std::cout << where << std::endl;
        } else {
            try {
                runner.openSerial(serial);
            } catch (const std::invalid_argument& e) {
                throw UsageError(e.what());
            }
        }

        std::FILE* traceOut = nullptr;
        std::optional<refhost::FrameTrace> trace;
        if (options.trace) {
            traceOut =
                options.traceFile.empty() ? stderr : std::fopen(options.traceFile.c_str(), "a");
            if (traceOut == nullptr) {
                throw Failure("cannot open the trace file '" + options.traceFile +
                              "': " + std::generic_category().message(errno));
            }
            trace.emplace(traceOut);
            runner.setTrace([&trace](bool received, const std::vector<uint8_t>& bytes, uint64_t) {
                trace->frame(received ? "RX" : "TX", bytes.data(), bytes.size(), received);
            });
        }

        const char parityLetter = static_cast<char>(
            std::toupper(rtu::parityName(static_cast<int>(lineParity(options)))[0]));
        std::cerr << "qarn simulate: " << devices << " on " << where
                  << (line.link.empty() ? "" : " (linked as " + line.link + ")") << ", "
                  << line.baud << " baud 8" << parityLetter << line.stopBits
                  << (line.pace ? ", paced" : "") << (line.strict ? ", strict" : "")
                  << modelText(line) << ", seed " << seed_ << "; Ctrl-C stops" << std::endl;

        {
            const StopOnSignal stopper({SIGINT, SIGTERM, SIGHUP}, stopRunner, &runner);
            runner.run();
        }
        if (traceOut != nullptr && traceOut != stderr) {
            std::fclose(traceOut);
        }
        printStats(engine.stats(), runner.stats());
        return ExitOk;
    }

  private:
    int printProfile() const {
        const std::string text = sim::builtinProfileText(showProfile_);
        if (text.empty()) {
            std::string names;
            for (const std::string& n : sim::builtinProfileNames()) {
                names += (names.empty() ? "" : ", ") + n;
            }
            throw UsageError("no built-in profile '" + showProfile_ + "'; there are " + names);
        }
        std::cout << text;
        return ExitOk;
    }

    static void addSlave(sim::SlaveEngine& engine, const std::string& slave) {
        const size_t colon = slave.find(':');
        const std::string nodeText = slave.substr(0, colon);
        char* end = nullptr;
        errno = 0;
        const long node = std::strtol(nodeText.c_str(), &end, 10);
        if (colon == std::string::npos || colon + 1 == slave.size() || nodeText.empty() ||
            *end != '\0' || errno != 0 || node < 1 || node > sim::MaxNode) {
            throw UsageError("--slave " + slave + ": expected NODE:PROFILE with NODE 1.." +
                             std::to_string(sim::MaxNode));
        }
        try {
            engine.addDevice(static_cast<uint8_t>(node), sim::loadProfile(slave.substr(colon + 1)));
        } catch (const sim::ProfileError& e) {
            throw UsageError(e.what());
        } catch (const std::invalid_argument& e) {
            throw UsageError("--slave " + slave + ": " + e.what());
        }
    }

    sim::FaultConfig faultConfig() const {
        sim::FaultConfig config;
        for (size_t i = 0; i < sim::FaultCount; ++i) {
            config.rules[i].probability = probability_[i];
            config.rules[i].every = every_[i];
        }
        config.delayMs = delayMs_;
        config.exceptionCode = static_cast<uint8_t>(exceptionCode_);
        for (const int node : faultNodes_) {
            config.nodes.push_back(static_cast<uint8_t>(node));
        }
        config.latencyMs = latencyMs_;
        config.jitterMs = jitterMs_;
        config.jitter = jitter_ == "exponential" ? sim::Jitter::Exponential : sim::Jitter::Uniform;
        sim::FaultRule& delay = config.rule(sim::Fault::Delay);
        if (delayMs_ != 0 && delay.probability == 0 && delay.every == 0) {
            delay.every = 1;
        }
        return config;
    }

    // ", half-duplex, echo, bursts every 16 ms" and the like: the line models in use.
    static std::string modelText(const sim::LineSettings& line) {
        std::string text = line.queue ? ", queueing" : ", half-duplex";
        if (line.echo) {
            text += ", echo";
        }
        if (line.burstMs != 0) {
            text += ", bursts every " + std::to_string(line.burstMs) + " ms";
        }
        if (line.noise > 0) {
            char probability[32];
            std::snprintf(probability, sizeof probability, "%g", line.noise);
            text += std::string(", noise ") + probability;
        }
        return text;
    }

    static void printStats(const sim::EngineStats& s, const sim::LineStats& line) {
        std::cerr << "qarn simulate: " << s.frames << " frames, " << s.answers << " answers ("
                  << s.exceptions << " exceptions), " << s.broadcasts << " broadcasts, "
                  << s.ignored << " ignored";
        std::string faults;
        for (size_t i = 0; i < sim::FaultCount; ++i) {
            if (s.faults[i] != 0) {
                faults += (faults.empty() ? "; faults: " : ", ") +
                          std::string(sim::faultName(static_cast<sim::Fault>(i))) + " " +
                          std::to_string(s.faults[i]);
            }
        }
        const std::pair<const char*, uint64_t> lineCounts[] = {
            {"unheard", line.unheard},        {"queued", line.queued},
            {"bytes echoed", line.echoed},    {"noise bursts", line.noiseBursts},
            {"noise bytes", line.noiseBytes}, {"misheard", line.mismatched}};
        std::string models;
        for (const auto& [name, count] : lineCounts) {
            if (count != 0) {
                models += (models.empty() ? "; line: " : ", ") + std::to_string(count) + " " + name;
            }
        }
        std::cerr << faults << models << std::endl;
    }

    CLI::App* app_ = nullptr;
    bool pty_ = false;
    std::string serial_;
    std::vector<std::string> slaves_;
    uint64_t seed_ = 1;
    bool pace_ = true;
    bool strict_ = false;
    std::string showProfile_;
    double probability_[sim::FaultCount] = {};
    uint32_t every_[sim::FaultCount] = {};
    uint32_t delayMs_ = 0;
    int exceptionCode_ = sim::DeviceFailure;
    std::vector<int> faultNodes_;
    uint32_t latencyMs_ = 0;
    uint32_t jitterMs_ = 0;
    std::string jitter_ = "uniform";
    sim::LineSettings model_;  // the line models only; the rest comes from the line options
};

}  // namespace

std::unique_ptr<Command> makeSimulateCommand() {
    return std::make_unique<SimulateCommand>();
}

}  // namespace qarn
