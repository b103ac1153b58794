#pragma once
// Serial factory double. Hands out one port object (its own quiet port, or one a test installs,
// e.g. a scripted port), can be made to refuse every open, and records OpenSerial and
// CloseSerial in order.

#include <string>
#include <vector>

#include "HostService.h"
#include "ISerialFactory.h"
#include "RecordingSerialPort.h"

namespace qarntest {

class RecordingSerialFactory : public HostService<ISerialFactory> {
  public:
    enum class Op { Open, Close };
    struct Call {
        Op op;
        unsigned long stamp;
        std::string name;         // Open only
        const ISerialPort* port;  // the port handed out (null when refused) or given back
    };

    RecordingSerialFactory();

    ISerialPort* OpenSerial(const char* name) override;
    void CloseSerial(ISerialPort* port) override;

    void setOpenFails(bool fails) { openFails_ = fails; }
    // Hands out `port` from now on; the caller keeps ownership. Null returns to the own port.
    void usePort(RecordingSerialPort* port) { installed_ = port; }
    RecordingSerialPort& port() { return installed_ != nullptr ? *installed_ : ownPort_; }

    // True while a port handed out has not been given back.
    bool portOpen() const { return openPorts_ > 0; }
    const std::vector<Call>& calls() const { return calls_; }
    void clearCalls() { calls_.clear(); }

  private:
    bool openFails_ = false;
    RecordingSerialPort ownPort_;
    RecordingSerialPort* installed_ = nullptr;
    int openPorts_ = 0;
    std::vector<Call> calls_;
};

}  // namespace qarntest
