// Configuration strings through Protocol_QARN::Config, and through the parser beneath it.
//
// Input: the configuration text (the driver sees it up to its first NUL).
//
// Properties: a refused text leaves error -1 with a parser message; a second Config with the
// same text decides the same way; an accepted configuration starts against a willing host with
// line codes the port understands and a sane inter-character time; the parser lists every node
// id once, never hands out a value with white space in it and refuses contradictory lookup
// flags.

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "CfgParser.h"
#include "DriverRig.h"
#include "FuzzCheck.h"

namespace {

using namespace qarnfuzz;
using Op = qarntest::RecordingSerialPort::Op;

const char* const Names[] = {"uart",      "baudrate",       "parity",  "bits",  "stopbits",
                             "mode",      "defNodeId",      "timeout", "delay", "repeat",
                             "maxOptLen", "presetFunction", "model"};

void checkParser(const std::string& text) {
    CfgParser parser(text.c_str());
    const int count = parser.GetNodeCount();
    if (!parser.KnownFormat()) {
        FUZZ_CHECK(count == 0, "node ids without a known format");
    }
    for (int i = 0; i < count; ++i) {
        for (int j = 0; j < i; ++j) {
            FUZZ_CHECK(parser.GetNodeID(i) != parser.GetNodeID(j),
                       "node id listed twice: " + std::to_string(parser.GetNodeID(i)));
        }
    }
    FUZZ_CHECK(parser.GetNodeID(-1) == 0 && parser.GetNodeID(count) == 0,
               "node id outside the list");
    for (const char* name : Names) {
        if (const char* value = parser.GetParam(name)) {
            FUZZ_CHECK(std::none_of(
                           value, value + std::strlen(value),
                           [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }),
                       std::string("value with white space for ") + name);
        }
        std::string value = "untouched";
        FUZZ_CHECK(parser.getParam(name, -1, value,
                                   CfgParser::FLAG_GLOBAL_ONLY | CfgParser::FLAG_PER_NODE) ==
                           CfgParser::PR_INVALID_SPECIFICATION &&
                       value == "untouched",
                   "both lookup flags accepted");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    text.resize(std::strlen(text.c_str()));
    checkParser(text);

    DriverRig rig;
    const bool accepted = rig.configure(text);
    const std::string error = rig.protocol->GetLastErrorString();
    if (!accepted) {
        FUZZ_CHECK(rig.protocol->GetLastError() == -1 && error.rfind("Parser: ", 0) == 0,
                   "refused with " + rig.lastError());
    }
    const bool again = rig.protocol->Config(text.c_str());
    FUZZ_CHECK(again == accepted, "a second Config decided otherwise: " + rig.lastError());
    if (!accepted) {
        FUZZ_CHECK(error == rig.protocol->GetLastErrorString(),
                   "a second Config failed otherwise: " + rig.lastError());
        return 0;
    }

    FUZZ_CHECK(rig.protocol->getInterCharTime() >= 10,
               "inter-character time " + std::to_string(rig.protocol->getInterCharTime()));
    FUZZ_CHECK(rig.protocol->GetMaxTm(nullptr) >= 0, "negative maximal access time");
    FUZZ_CHECK(rig.protocol->Start(), "accepted but not started: " + rig.lastError());
    for (const auto& call : rig.port.calls()) {
        if (call.op == Op::Setup) {
            FUZZ_CHECK(call.setup[0] != 0 && call.setup[1] >= 0 && call.setup[1] <= 3 &&
                           call.setup[4] >= 0 && call.setup[4] <= 2,
                       "line set up with baud " + std::to_string(call.setup[0]) + ", parity " +
                           std::to_string(call.setup[1]) + ", mode " +
                           std::to_string(call.setup[4]));
        }
    }
    FUZZ_CHECK(rig.protocol->Stop(), "not stopped");
    return 0;
}
