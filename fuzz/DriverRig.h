#pragma once
// A Protocol_QARN wired to the recording host doubles, as the host runs it, without a test
// framework: while a rig lives, the module-wide service pointers point at its doubles and the
// serial factory hands out its scripted port. Also the answer scripts that fuzz targets decode
// from their input.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "Protocol_QARN.h"
#include "RecordingHost.h"
#include "ScriptedSerialPort.h"

namespace qarnfuzz {

using qarntest::Bytes;

// The serial line part of every configuration the targets use.
extern const char LineConfig[];

class DriverRig {
  public:
    DriverRig();
    ~DriverRig();
    DriverRig(const DriverRig&) = delete;
    DriverRig& operator=(const DriverRig&) = delete;

    // A fresh instance configured with `text`; false when Config refused it.
    bool configure(const std::string& text);
    // "<code> <text>" of the last error, for messages.
    std::string lastError() const;

    qarntest::RecordingHost host;
    qarntest::ScriptedSerialPort port;
    std::unique_ptr<Protocol_QARN> protocol;
};

// One answer as the port hands it out; silence when `delivers` is false.
struct ScriptedAnswer {
    bool delivers = false;
    Bytes bytes;
};

// The first two bytes of the request the next answers belong to; answers may borrow them, so
// that short inputs get past the node and function checks.
struct AnswerHint {
    uint8_t node = 1;
    uint8_t function = 3;
};

// Mode bits of one scripted answer. Every mode but silence is followed by a chunk of bytes
// (a length byte, then the bytes).
enum AnswerMode : uint8_t {
    AnswerKindMask = 0x03,
    AnswerSilence = 0,
    AnswerRaw = 1,         // the bytes as they are
    AnswerWithCrc = 2,     // the bytes, then their CRC
    AnswerHinted = 3,      // the hint's node and function, the bytes, then the CRC
    AnswerWrapped = 0x04,  // inside the ISMG wrapper
    AnswerStale = 0x08,    // stale bytes wait on the line, for Drain to clear
};

// Decodes one answer; `stale` tells whether the line holds stale bytes before it.
ScriptedAnswer decodeAnswer(FuzzInput& in, const AnswerHint& hint, bool& stale);
// Decodes `count` answers and queues them on the port; returns them in queue order.
std::vector<ScriptedAnswer> queueAnswers(FuzzInput& in, qarntest::ScriptedSerialPort& port,
                                         int count, const AnswerHint& hint);

}  // namespace qarnfuzz
