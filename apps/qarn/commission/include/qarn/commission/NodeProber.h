#pragma once
// Whether a node is there: one harmless read (one register) through the plug-in, once, with a
// short time-out, and what came back: an answer, an exception (the node is there but refused the
// read), bytes that made no proper answer, or nothing.

#include <chrono>
#include <functional>
#include <string>

#include <qarn/rtu/LineSettings.h>

class IProtocol;

namespace refhost {
struct LineReport;
}

namespace qarn {

// The time-out of one probe and the late-answer guard after a silent one; a silent node costs
// both.
struct ProbeTiming {
    int timeoutMs = 0;
    int guardMs = 0;
};

// Chosen from the line speed: the time-out covers the request and a one-register answer on the
// line (15 characters and two frame silences) and 80 ms for the slave to turn round, rounded up
// to 10 ms; the guard is half of it, rounded up likewise. 9600 baud 8E1: 110 ms and 60 ms, so
// 1-247 takes about 42 s when nobody answers; 1200 baud: 290 and 150 ms; 115200: 90 and 50 ms.
ProbeTiming probeTiming(int baud, rtu::Parity parity, int stopBits);

enum class NodeState {
    Answer,     // a proper answer
    Exception,  // an exception answer: present, but it refused this read
    Garbled,    // bytes came, but no proper answer (bad CRC, cut, another node's)
    Silent,     // nothing
    Stopped,    // the stop request ended the probe: no result
};

struct NodeProbe {
    int node = 0;
    NodeState state = NodeState::Silent;
    int exceptionCode = 0;  // Exception: its code; 0 when it is not known
    double latencyMs = 0;   // from the plug-in call to its return: request, wait, answer
    std::string detail;     // Garbled: what the port saw
};

// "answer", "exception 2", "garbled", "silent" or "stopped".
std::string resultText(const NodeProbe& probe);
// Answer or Exception: a node is there.
bool isPresent(const NodeProbe& probe);

// What the host around the plug-in adds; either hook may be left empty.
struct ProbeHooks {
    // Called before each probe, e.g. to open a new window of the line report.
    std::function<void()> beforeProbe;
    // What the port saw during the last probe; null when the host does not know.
    std::function<const refhost::LineReport*()> report;
};

class NodeProber {
  public:
    // `read` is the register read without its node, "HREG?400001?unsignedShort" by default. The
    // protocol must be started and configured with no repeats and the probe's time-out.
    NodeProber(IProtocol& protocol, std::string read, ProbeHooks hooks = {});

    // The port's late-answer guard time: after a probe without a proper answer, and after the
    // first proper one that follows, the port keeps the line quiet for it before the next
    // request. The prober waits it out before it starts its clock, so that a latency is the
    // node's own and never the guard's.
    void setGuardMs(int ms) { guardMs_ = ms; }

    // Throws Failure when the plug-in refuses the read itself (no line failure: a bad --probe,
    // a line that is not started) or the device is gone.
    NodeProbe probe(int node);

  private:
    IProtocol& protocol_;
    std::string read_;
    ProbeHooks hooks_;
    int guardMs_ = 0;
    int guardedProbes_ = 0;  // probes still to come that the port's guard holds back
    std::chrono::steady_clock::time_point lastEnd_{};
};

}  // namespace qarn
