// qarn demo: the whole chain without hardware. A simulated line on a pty with an energy meter
// and an I/O device, the plug-in loaded and configured for it, a scan of the bundled tag list,
// then a holding register and a coil written and read back.

#include <stdlib.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <exception>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <qarn/demo/DemoTags.h>
#include <qarn/host/IProtocol.h>
#include <qarn/output/PollFormats.h>
#include <qarn/scan/Poller.h>
#include <qarn/scan/TagList.h>
#include <qarn/sim/LineRunner.h>
#include <qarn/sim/Profile.h>
#include <qarn/sim/SlaveEngine.h>
#include <qarn/toolkit/Errors.h>
#include <qarn/toolkit/LineOptions.h>
#include <qarn/toolkit/NodeGuard.h>
#include <qarn/toolkit/Session.h>
#include <qarn/toolkit/StopOnSignal.h>
#include <qarn/toolkit/TagValue.h>
#include <qarn/toolkit/ValueCodec.h>
#include "Commands.h"
#include "SimLine.h"

namespace qarn {

namespace {

// The demo builds its own line; these options would contradict it.
const char* const LineBuiltByDemo[] = {"--config", "--config-file", "--device",
                                       "--model",  "--node",        "--port-map"};

// Written by the demo and expected back: a holding register and a coil of the I/O device.
struct DemoWrite {
    const char* name;
    const char* address;
    const char* value;
};
const DemoWrite DemoWrites[] = {
    {"setpoint", "2?HREG?400100?unsignedShort", "4660"},
    {"relay_1", "2?OUTP?1?boolean", "1"},
};

constexpr int DemoBaud = 38400;
// The simulator answers at once; a short time-out keeps a broken setup from hanging the demo.
constexpr int DemoTimeoutMs = 500;

// The simulated line served from a thread for as long as this lives.
class SimulatedLine {
  public:
    SimulatedLine(uint64_t seed, const sim::LineSettings& settings) : engine_(seed) {
        engine_.addDevice(static_cast<uint8_t>(DemoMeterNode), sim::loadProfile(DemoMeterModel));
        engine_.addDevice(static_cast<uint8_t>(DemoIoNode), sim::loadProfile(DemoIoModel));
        runner_ = std::make_unique<sim::LineRunner>(engine_, settings);
        path_ = runner_->openPty();
        thread_ = std::thread([this] {
            try {
                runner_->run();
            } catch (...) {
                failure_ = std::current_exception();
            }
        });
    }
    ~SimulatedLine() { stop(); }
    SimulatedLine(const SimulatedLine&) = delete;
    SimulatedLine& operator=(const SimulatedLine&) = delete;

    const std::string& path() const { return path_; }
    // Stops serving; rethrows what ended the simulation early, if anything did.
    void finish() {
        stop();
        if (failure_) {
            std::rethrow_exception(failure_);
        }
    }
    // Valid once finished.
    const sim::EngineStats& stats() const { return engine_.stats(); }

  private:
    void stop() {
        if (thread_.joinable()) {
            runner_->stop();
            thread_.join();
        }
    }

    sim::SlaveEngine engine_;
    std::unique_ptr<sim::LineRunner> runner_;
    std::string path_;
    std::thread thread_;
    std::exception_ptr failure_;
};

// A store of the demo's own, so that node-ID overrides set by the user for real lines stay out.
class TemporaryStore {
  public:
    TemporaryStore() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern =
            std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/qarn-demo-XXXXXX";
        if (mkdtemp(&pattern[0]) == nullptr) {
            throw Failure("cannot create a folder for the demo's store in " + pattern);
        }
        folder_ = pattern;
    }
    ~TemporaryStore() {
        unlink(path().c_str());
        rmdir(folder_.c_str());
    }
    TemporaryStore(const TemporaryStore&) = delete;
    TemporaryStore& operator=(const TemporaryStore&) = delete;

    std::string path() const { return folder_ + "/store.ini"; }

  private:
    std::string folder_;
};

class DemoCommand final : public Command {
  public:
    const char* name() const override { return "demo"; }
    const char* summary() const override {
        return "poll a simulated meter and I/O device on a pty, then write and read back";
    }

    void define(CLI::App& app) override {
        app_ = &app;
        app.add_option("--seed", seed_, "seed of the simulated live values")->capture_default_str();
        app.add_option("--count", count_, "poll cycles; 0 polls until Ctrl-C")
            ->check(CLI::NonNegativeNumber)
            ->capture_default_str();
        app.add_option("--interval", intervalMs_, "ms from the start of one cycle to the next")
            ->check(CLI::NonNegativeNumber)
            ->capture_default_str();
        app.add_option("--format", format_,
                       "table, csv or jsonl, as for poll (auto: table on a terminal, else csv)")
            ->check(CLI::IsMember({"auto", "table", "csv", "jsonl"}))
            ->capture_default_str();
        app.add_flag("--pace", pace_,
                     "send each simulated byte at its character time, as a real line does");
        app.add_flag("--show-tags", showTags_,
                     "print the demo's tag list (for poll --tags) and exit");
        app.footer(
            "The line is 38400 baud, 8E1 unless --baud, --parity or --stopbits say otherwise; "
            "node 1 is an EM24 meter, node 2 a GenericModbus I/O device.");
    }

    int run(CommandContext& context) override {
        if (showTags_) {
            std::cout << DemoTagList;
            return ExitOk;
        }
        for (const char* option : LineBuiltByDemo) {
            if (app_->count(option) > 0) {
                throw UsageError(std::string(option) + ": the demo sets up its own line");
            }
        }
        LineOptions options = context.options();
        if (app_->count("--baud") == 0) {
            options.baud = DemoBaud;
        }
        if (!options.timeout) {
            options.timeout = DemoTimeoutMs;
        }
        // Paced bytes come from a thread that sleeps between them; on a busy machine it can
        // sleep past the gap that ends a frame, so the demo paces only when asked to.
        const sim::LineSettings lineSettings = simLineSettings(options, pace_);
        PollSettings settings;
        settings.count = count_;
        settings.interval = std::chrono::milliseconds(intervalMs_);
        const PollDisplay display = pollDisplay(format_);
        // The story goes beside the data when the data is for a program.
        std::ostream& say = display.format == PollFormat::Table ? std::cout : std::cerr;

        std::istringstream listText(DemoTagList);
        const std::vector<TagSpec> tags = parseTagList(listText, "demo.tags");

        SimulatedLine line(seed_, lineSettings);

        options.device = line.path();
        options.model = DemoMeterModel;
        options.node = DemoMeterNode;
        options.quickGiven = true;
        options.config = configurationString(options) + " Node" + std::to_string(DemoIoNode) +
                         "::defNodeId=" + std::to_string(DemoIoNode) + " Node" +
                         std::to_string(DemoIoNode) + "::model=" + DemoIoModel;
        options.device.clear();
        options.quickGiven = false;
        std::unique_ptr<TemporaryStore> store;
        if (options.store.empty()) {
            store = std::make_unique<TemporaryStore>();
            options.store = store->path();
        }

        say << "qarn demo: simulated line on " << line.path() << ", " << options.baud
            << " baud; node " << DemoMeterNode << " " << DemoMeterModel << " meter, node "
            << DemoIoNode << " " << DemoIoModel << " I/O device; seed " << seed_ << "\n";
        bool readBack = true;
        {
            Session session(options);
            IProtocol& protocol = session.started();
            Poller poller(session, protocol, tags);
            say << "qarn demo: " << tags.size() << " tags in " << poller.scan().lineRequests()
                << " requests a cycle\n";
            say.flush();
            {
                const std::unique_ptr<PollOutput> output =
                    makePollOutput(display, std::cout, poller.tags());
                const StopOnSignal stopper;
                session.setCancelFd(stopper.cancelFd());
                poller.run(settings, *output);
                session.setCancelFd(-1);
            }
            for (const DemoWrite& w : DemoWrites) {
                readBack = writeAndReadBack(session, protocol, w, say) && readBack;
            }
        }
        line.finish();
        const sim::EngineStats& s = line.stats();
        say << "qarn demo: the simulator answered " << s.answers << " of " << s.frames
            << " frames; " << (readBack ? "every value read back as written" : "READ-BACK FAILED")
            << "\n";
        return readBack ? ExitOk : ExitFailure;
    }

  private:
    // Prints "NAME (ADDRESS): was OLD, wrote NEW, read back VALUE"; true when VALUE is NEW.
    static bool writeAndReadBack(Session& session, IProtocol& protocol, const DemoWrite& w,
                                 std::ostream& say) {
        // A store of the user's (--store) may hold overrides for the demo's nodes.
        session.checkTag(w.address, TagAccess::Write);
        const TagReading before = readTag(session, protocol, w.address);
        TagHandle handle(session, protocol, w.address);
        std::vector<uint8_t> value;
        std::string error;
        if (!encodeValue(handle.type(), w.value, value, error)) {
            throw Failure(std::string(w.address) + ": " + error);
        }
        session.clearPortError();
        if (!protocol.Write(&handle.tag(), value.data())) {
            session.fail(std::string("writing ") + w.name + " " + w.address);
        }
        const std::string written =
            toText(decodeValue(handle.type(), value.data(), value.size()), false);
        const TagReading after = readTag(session, protocol, w.address);
        const std::string now = after.ok ? toText(after.value, false) : after.message();
        say << w.name << " (" << w.address << "): was "
            << (before.ok ? toText(before.value, false) : before.message()) << ", wrote " << written
            << ", read back " << now << "\n";
        return after.ok && now == written;
    }

    CLI::App* app_ = nullptr;
    uint64_t seed_ = 1;
    unsigned long count_ = 10;
    long intervalMs_ = 200;
    std::string format_ = "table";
    bool pace_ = false;
    bool showTags_ = false;
};

}  // namespace

std::unique_ptr<Command> makeDemoCommand() {
    return std::make_unique<DemoCommand>();
}

}  // namespace qarn
