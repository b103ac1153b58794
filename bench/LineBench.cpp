// Whole accesses over a pty against the simulator's line runner at 9600 baud, 8 data bits, even
// parity and one stop bit, paced like a real line: the time a host waits per access. The
// counter line_ms is what the characters and the two 3.5-character silences of one transaction
// take on a real line; the measured time should come close to it (a pty hands over the last
// byte at the start of its character time, so a little below), and anything well above it is
// the cost of the software on either side.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include <qarn/driver/Protocol_QARN.h>
#include <qarn/plugin/HostServices.h>
#include <qarn/refhost/MultiTask.h>
#include <qarn/refhost/SerialFactory.h>
#include <qarn/sim/LineRunner.h>
#include <qarn/sim/SlaveEngine.h>

#include "ServedLine.h"

namespace {

constexpr double CharacterMs = 11 * 1000.0 / 9600;  // start, 8 data, parity, stop bit
constexpr double SilenceChars = 3.5;

// The simulated slave (a generic device at node 1) at 9600 8E1, paced like a real line.
sim::LineSettings pacedLine() {
    sim::LineSettings line;
    line.baud = 9600;
    line.parity = sim::Parity::Even;
    line.stopBits = 1;
    line.pace = true;
    return line;
}

// The driver on the reference host's serial port and multitasking service.
class LineMaster {
  public:
    explicit LineMaster(const std::string& device) {
        serialFactory_.map("com1", device);
        // The simulated line does not echo; said up front, so that a write needs no read first.
        serialFactory_.setEcho(refhost::EchoMode::Off);
        piSerialFactory = &serialFactory_;
        piMultiTask = &multiTask_;
        protocol_ = std::make_unique<Protocol_QARN>();
        ok_ = protocol_->Config(
                  "CfgVer=1 uart=com1 baudrate=9600 parity=even bits=8 stopbits=1 mode=RS-232 "
                  "defNodeId=1 model=GenericModbus timeout=1000 repeat=0") &&
              protocol_->Start();
    }
    ~LineMaster() {
        protocol_.reset();
        piSerialFactory = nullptr;
        piMultiTask = nullptr;
    }
    LineMaster(const LineMaster&) = delete;
    LineMaster& operator=(const LineMaster&) = delete;

    bool ok() const { return ok_; }
    Protocol_QARN& protocol() { return *protocol_; }
    std::string error() const {
        return ok_ ? std::string(protocol_->GetLastErrorString())
                   : std::string(protocol_->GetLastErrorString()) + " (" +
                         serialFactory_.lastError() + ")";
    }

  private:
    refhost::SerialFactory serialFactory_;
    refhost::MultiTask multiTask_;
    std::unique_ptr<Protocol_QARN> protocol_;
    bool ok_ = false;
};

// Runs `access` over the line; `requestChars` and `answerChars` give the line time.
template <typename Access>
void runOnLine(benchmark::State& state, const std::string& address, int requestChars,
               int answerChars, Access access) {
    ServedLine line(1, sim::loadProfile("generic"), pacedLine());
    LineMaster master(line.path());
    if (!master.ok()) {
        state.SkipWithError(master.error().c_str());
        return;
    }
    ITag* tag = master.protocol().CreateTag(address.c_str());
    if (tag == nullptr) {
        state.SkipWithError(master.error().c_str());
        return;
    }
    std::unique_ptr<uint8_t[]> value(new uint8_t[static_cast<size_t>(tag->GetVarLength())]());
    state.SetLabel(address);
    for (auto _ : state) {
        if (!access(master.protocol(), tag, value.get()) || line.failed()) {
            state.SkipWithError(master.error().c_str());
            break;
        }
    }
    state.counters["line_ms"] = (requestChars + answerChars + 2 * SilenceChars) * CharacterMs;
}

// range(0) registers read in one request.
void BM_LineRead(benchmark::State& state) {
    const int registers = static_cast<int>(state.range(0));
    runOnLine(state, "1?HREG?400001?unsignedShort-" + std::to_string(registers), 8,
              5 + 2 * registers, [](Protocol_QARN& protocol, ITag* tag, uint8_t* value) {
                  return protocol.Read(tag, value);
              });
}
BENCHMARK(BM_LineRead)
    ->Arg(1)
    ->Arg(10)
    ->Arg(125)
    ->Iterations(30)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// One register with function 6.
void BM_LineWrite(benchmark::State& state) {
    runOnLine(state, "1?HREG?400001?unsignedShort", 8, 8,
              [](Protocol_QARN& protocol, ITag* tag, uint8_t* value) {
                  return protocol.Write(tag, value);
              });
}
BENCHMARK(BM_LineWrite)->Iterations(30)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
