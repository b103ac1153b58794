#pragma once
// A Protocol_QARN wired to the recording host doubles as the host runs it: while a rig lives, the
// module-wide service pointers point at them. Also the answer scripts decoded from the input.

#include <memory>
#include <string>
#include <vector>

#include <qarn/driver/Protocol_QARN.h>
#include <qarn/plugin/HostServices.h>
#include <qarn/protlib/ProtUtilsN.h>
#include "FuzzInput.h"
#include "RecordingHost.h"
#include "ScriptedSerialPort.h"

namespace qarnfuzz {

using qarntest::Bytes;

// The serial line part of every configuration the targets use.
inline const char LineConfig[] =
    "CfgVer=1 uart=com1 baudrate=9600 parity=even bits=8 stopbits=1 mode=RS-485 ";

struct DriverRig {
    DriverRig() {
        piMultiTask = &host.multiTask();
        piSerialFactory = &host.serialFactory();
        piPermanentStorage = &host.store();
        host.serialFactory().usePort(&port);
    }
    ~DriverRig() {
        protocol.reset();  // before the doubles it uses
        piMultiTask = nullptr;
        piSerialFactory = nullptr;
        piPermanentStorage = nullptr;
    }
    // A fresh instance (it takes the serial factory when built) configured with `text`.
    bool configure(const std::string& text) {
        protocol = std::make_unique<Protocol_QARN>();
        return protocol->Config(text.c_str());
    }
    bool start(const std::string& nodes) {
        return configure(LineConfig + nodes) && protocol->Start();
    }
    std::string lastError() const {
        return std::to_string(protocol->GetLastError()) + " " + protocol->GetLastErrorString();
    }

    qarntest::RecordingHost host;
    qarntest::ScriptedSerialPort port;
    std::unique_ptr<Protocol_QARN> protocol;
};

// Queues `count` answers (layout in README.md) and returns their bytes (none for silence); `node`
// and `function` lead the "hinted" ones, so that short inputs pass those checks.
inline std::vector<Bytes> queueAnswers(FuzzInput& in, qarntest::ScriptedSerialPort& port, int count,
                                       uint8_t node, uint8_t function) {
    std::vector<Bytes> answers(static_cast<size_t>(count));
    for (Bytes& bytes : answers) {
        const uint8_t mode = in.byte();
        port.stale((mode & 8) != 0 ? 1 : 0);
        if ((mode & 3) == 0) {
            port.silence();
            continue;
        }
        bytes = (mode & 3) == 3 ? Bytes{node, function} : Bytes{};
        const Bytes body = in.chunk();
        bytes.insert(bytes.end(), body.begin(), body.end());
        bytes = (mode & 3) == 1 ? bytes : qarntest::withCrc(bytes);
        port.answer(bytes = (mode & 4) != 0 ? qarntest::ismgWrapped(bytes) : bytes);
    }
    return answers;
}

// The length GetORBAType gives a data-type string; 0 when it refuses the string.
inline int typeLength(const std::string& text) {
    ICU_Type type = ICU_NONE, item = ICU_NONE;
    int length = 0;
    std::vector<std::string> conversions;
    return ProtUtilsN::GetORBAType(text, type, item, length, conversions) ? length : 0;
}

}  // namespace qarnfuzz
