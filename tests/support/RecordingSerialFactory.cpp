#include "RecordingSerialFactory.h"

namespace qarntest {

RecordingSerialFactory::RecordingSerialFactory()
    : HostService("ISerialFactory", "TestSerialFactory", 2) {}

ISerialPort* RecordingSerialFactory::OpenSerial(const char* name) {
    ISerialPort* handedOut = openFails_ ? nullptr : &port();
    calls_.push_back({Op::Open, nextCallStamp(), name != nullptr ? name : "", handedOut});
    if (handedOut != nullptr) {
        ++openPorts_;
    }
    return handedOut;
}

void RecordingSerialFactory::CloseSerial(ISerialPort* closed) {
    calls_.push_back({Op::Close, nextCallStamp(), std::string(), closed});
    if (closed != nullptr && openPorts_ > 0) {
        --openPorts_;
    }
}

}  // namespace qarntest
