#include "BenchHost.h"

#include <algorithm>
#include <cstring>

#include <qarn/driver/ModbusFrame.h>
#include <qarn/plugin/HostServices.h>

namespace qarnbench {

namespace {
const char LineConfig[] =
    "CfgVer=1 uart=com1 baudrate=9600 parity=even bits=8 stopbits=1 mode=RS-485 ";
}

class BenchHost::Factory final : public qarntest::HostService<ISerialFactory> {
  public:
    explicit Factory(ISerialPort& port)
        : HostService("ISerialFactory", "BenchSerialFactory", 1), port_(port) {}
    ISerialPort* OpenSerial(const char*) override { return &port_; }
    void CloseSerial(ISerialPort*) override {}

  private:
    ISerialPort& port_;
};

class BenchHost::MultiTask final : public qarntest::HostService<IMultiTask2> {
  public:
    MultiTask() : HostService("IMultiTask2", "BenchMultiTask", 1) {}
    void Sleep(int) override {}
};

void CannedPort::answer(const std::vector<uint8_t>& frame) {
    answerLength_ = std::min(static_cast<int>(frame.size()), Capacity);
    std::memcpy(answer_, frame.data(), static_cast<size_t>(answerLength_));
}

int CannedPort::Send(const uint8_t* frame, int length, int) {
    ++requests_;
    const uint8_t function = length >= 2 ? frame[1] : 0;
    echoNext_ = echo_ && length >= 6 &&
                (function == ModbusFrameN::WriteSingleCoil ||
                 function == ModbusFrameN::WriteSingleRegister ||
                 function == ModbusFrameN::WriteMultipleRegisters);
    if (echoNext_) {
        std::memcpy(echoFrame_, frame, 6);
        ModbusFrameN::appendCrc(echoFrame_, 6);
    }
    return length;
}

int CannedPort::Receive(uint8_t* buffer, int size, int, int, int* received, int) {
    const uint8_t* from = echoNext_ ? echoFrame_ : answer_;
    const int count = std::min(echoNext_ ? ModbusFrameN::WriteAnswerLength : answerLength_, size);
    std::memcpy(buffer, from, static_cast<size_t>(count));
    *received = count;
    return 1;
}

BenchHost::BenchHost()
    : factory_(std::make_unique<Factory>(port)), multiTask_(std::make_unique<MultiTask>()) {
    piSerialFactory = factory_.get();
    piMultiTask = multiTask_.get();
}

BenchHost::~BenchHost() {
    piSerialFactory = nullptr;
    piMultiTask = nullptr;
}

std::unique_ptr<Protocol_QARN> BenchHost::start(const std::string& nodes, std::string& error) {
    auto protocol = std::make_unique<Protocol_QARN>();
    if (!protocol->Config((LineConfig + nodes).c_str()) || !protocol->Start()) {
        error = protocol->GetLastErrorString();
        return nullptr;
    }
    return protocol;
}

std::vector<uint8_t> withCrc(std::vector<uint8_t> frame) {
    const uint16_t crc = ModbusFrameN::crc16(frame.data(), static_cast<int>(frame.size()));
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return frame;
}

}  // namespace qarnbench
