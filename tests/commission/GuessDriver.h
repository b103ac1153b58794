#pragma once
// The real driver, configured and started on a scripted port, for the commissioning parts that
// make tags and read them: what goes on the line and what the plug-in decodes are its own.

#include <string>

#include <qarn/driver/Protocol_QARN.h>
#include <qarn/plugin/HostServices.h>
#include "RecordingHost.h"

namespace qarntest {

class GuessDriver {
  public:
    explicit GuessDriver(bool start = true) : wired(host, port) {
        configured = protocol.Config(
            "CfgVer=1 uart=com1 baudrate=9600 parity=none bits=8 stopbits=1 mode=RS-485 "
            "defNodeId=1 model=GenericModbus repeat=0");
        started = configured && (!start || protocol.Start());
    }

    // The answer of node 1 to a read of holding registers: `data` as hex digits.
    void answerRegisters(const std::string& data) {
        const Bytes bytes = hexBytes(data);
        Bytes frame = {0x01, 0x03, static_cast<uint8_t>(bytes.size())};
        frame.insert(frame.end(), bytes.begin(), bytes.end());
        port.answer(withCrc(frame));
    }

    // The driver takes the host's services when it is made: they are in place before it.
    struct Wiring {
        Wiring(RecordingHost& h, ScriptedSerialPort& p) {
            piMultiTask = &h.multiTask();
            piSerialFactory = &h.serialFactory();
            piPermanentStorage = &h.store();
            h.serialFactory().usePort(&p);
        }
    };

    RecordingHost host;
    ScriptedSerialPort port;
    Wiring wired;
    Protocol_QARN protocol;
    bool configured = false;
    bool started = false;
};

}  // namespace qarntest
