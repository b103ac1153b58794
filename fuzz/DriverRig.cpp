#include "DriverRig.h"

#include "HostServices.h"

namespace qarnfuzz {

const char LineConfig[] =
    "CfgVer=1 uart=com1 baudrate=9600 parity=even bits=8 stopbits=1 mode=RS-485 ";

DriverRig::DriverRig() {
    piMultiTask = &host.multiTask();
    piSerialFactory = &host.serialFactory();
    piPermanentStorage = &host.store();
    host.serialFactory().usePort(&port);
}

DriverRig::~DriverRig() {
    protocol.reset();
    piMultiTask = nullptr;
    piSerialFactory = nullptr;
    piPermanentStorage = nullptr;
}

bool DriverRig::configure(const std::string& text) {
    // The constructor takes the serial factory from the module-wide pointer.
    protocol = std::make_unique<Protocol_QARN>();
    return protocol->Config(text.c_str());
}

std::string DriverRig::lastError() const {
    return std::to_string(protocol->GetLastError()) + " " + protocol->GetLastErrorString();
}

ScriptedAnswer decodeAnswer(FuzzInput& in, const AnswerHint& hint, bool& stale) {
    const uint8_t mode = in.byte();
    stale = (mode & AnswerStale) != 0;
    ScriptedAnswer answer;
    const int kind = mode & AnswerKindMask;
    if (kind == AnswerSilence) {
        return answer;
    }
    answer.delivers = true;
    if (kind == AnswerHinted) {
        answer.bytes = {hint.node, hint.function};
    }
    const Bytes body = in.chunk();
    answer.bytes.insert(answer.bytes.end(), body.begin(), body.end());
    if (kind != AnswerRaw) {
        answer.bytes = qarntest::withCrc(answer.bytes);
    }
    if ((mode & AnswerWrapped) != 0) {
        answer.bytes = qarntest::ismgWrapped(answer.bytes);
    }
    return answer;
}

std::vector<ScriptedAnswer> queueAnswers(FuzzInput& in, qarntest::ScriptedSerialPort& port,
                                         int count, const AnswerHint& hint) {
    std::vector<ScriptedAnswer> answers;
    for (int i = 0; i < count; ++i) {
        bool stale = false;
        ScriptedAnswer answer = decodeAnswer(in, hint, stale);
        if (stale) {
            port.stale(1);
        }
        if (answer.delivers) {
            port.answer(answer.bytes);
        } else {
            port.silence();
        }
        answers.push_back(std::move(answer));
    }
    return answers;
}

}  // namespace qarnfuzz
