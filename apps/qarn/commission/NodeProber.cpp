#include <qarn/commission/NodeProber.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include <qarn/host/ErrorCodes.h>
#include <qarn/host/IProtocol.h>
#include <qarn/host/ITag.h>
#include <qarn/refhost/LineReport.h>
#include <qarn/toolkit/Errors.h>

namespace qarn {

namespace {

constexpr int RequestCharacters = 8;  // node, function, address, count, CRC
constexpr int AnswerCharacters = 7;   // node, function, byte count, one register, CRC
constexpr int TurnRoundMs = 80;

int roundUpTo10(int64_t us) {
    const int64_t ms = (us + 999) / 1000;
    return static_cast<int>((ms + 9) / 10 * 10);
}

// The plug-in names codes 1 to 4 in its text; others only as "Unknown exception".
int codeFromText(const std::string& text) {
    const char* const names[] = {"Illegal function", "Illegal data address", "Illegal data value",
                                 "Failure in device"};
    for (int i = 0; i < 4; ++i) {
        if (text.find(names[i]) != std::string::npos) {
            return i + 1;
        }
    }
    return 0;
}

bool isExceptionText(const std::string& text) {
    return text.compare(0, 9, "Exception") == 0 || text.compare(0, 17, "Unknown exception") == 0;
}

}  // namespace

ProbeTiming probeTiming(int baud, rtu::Parity parity, int stopBits) {
    const int64_t characterUs = rtu::characterTimeUs(baud, 8, parity, stopBits);
    const int64_t lineUs = (RequestCharacters + AnswerCharacters) * characterUs +
                           2 * rtu::frameSilenceUs(baud, characterUs);
    ProbeTiming t;
    t.timeoutMs = roundUpTo10(lineUs + TurnRoundMs * int64_t{1000});
    t.guardMs = roundUpTo10(t.timeoutMs * int64_t{1000} / 2);
    return t;
}

std::string resultText(const NodeProbe& probe) {
    switch (probe.state) {
        case NodeState::Answer:
            return "answer";
        case NodeState::Exception:
            return probe.exceptionCode != 0 ? "exception " + std::to_string(probe.exceptionCode)
                                            : "exception";
        case NodeState::Garbled:
            return "garbled";
        case NodeState::Silent:
            return "silent";
        case NodeState::Stopped:
            return "stopped";
    }
    return "?";
}

bool isPresent(const NodeProbe& probe) {
    return probe.state == NodeState::Answer || probe.state == NodeState::Exception;
}

NodeProber::NodeProber(IProtocol& protocol, std::string read, ProbeHooks hooks)
    : protocol_(protocol), read_(std::move(read)), hooks_(std::move(hooks)) {}

NodeProbe NodeProber::probe(int node) {
    NodeProbe result;
    result.node = node;
    const std::string address = std::to_string(node) + "?" + read_;
    ITag* tag = protocol_.CreateTag(address.c_str());
    if (tag == nullptr) {
        const char* text = protocol_.GetLastErrorString();
        throw Failure("the probe " + address + " is refused: " + (text != nullptr ? text : ""));
    }
    std::vector<uint8_t> value(static_cast<size_t>(std::max(tag->GetVarLength(), 1)) + 8);
    if (guardedProbes_ > 0) {
        std::this_thread::sleep_until(lastEnd_ + std::chrono::milliseconds(guardMs_));
    }
    if (hooks_.beforeProbe) {
        hooks_.beforeProbe();
    }
    const auto start = std::chrono::steady_clock::now();
    const bool ok = protocol_.Read(tag, value.data());
    lastEnd_ = std::chrono::steady_clock::now();
    result.latencyMs = std::chrono::duration<double, std::milli>(lastEnd_ - start).count();
    protocol_.FreeTag(tag);
    // The port's guard rule: armed by a probe without a proper answer (an exception is one),
    // held for one more request after the next proper answer.
    const bool proper = ok || isExceptionText(protocol_.GetLastErrorString() != nullptr
                                                  ? protocol_.GetLastErrorString()
                                                  : "");
    guardedProbes_ = proper ? std::max(guardedProbes_ - 1, 0) : 2;
    if (ok) {
        result.state = NodeState::Answer;
        return result;
    }

    const int code = protocol_.GetLastError();
    const std::string text =
        protocol_.GetLastErrorString() != nullptr ? protocol_.GetLastErrorString() : "";
    const refhost::LineReport* report = hooks_.report ? hooks_.report() : nullptr;
    if (report != nullptr && report->cancelled) {
        result.state = NodeState::Stopped;
        return result;
    }
    if (report != nullptr && report->gone) {
        throw Failure(address + ": " + refhost::describe(*report));
    }
    if (code != ErrorCode::Communication) {
        throw Failure(address + ": error " + std::to_string(code) + ": " + text);
    }
    if (isExceptionText(text)) {
        result.state = NodeState::Exception;
        result.exceptionCode = report != nullptr && report->lastException != 0
                                   ? report->lastException
                                   : codeFromText(text);
        return result;
    }
    // The plug-in's own objections to an answer ("Incorrect ... in response") mean a frame with
    // a good CRC came.
    const bool bytesCame = report != nullptr &&
                           (report->crcErrors > 0 || report->incomplete > 0 || report->foreign > 0);
    if (bytesCame || text != "Communication error") {
        result.state = NodeState::Garbled;
        result.detail = report != nullptr && bytesCame ? refhost::describe(*report) : text;
        return result;
    }
    result.state = NodeState::Silent;
    return result;
}

}  // namespace qarn
