#pragma once
// A host for measuring the driver alone: a serial port that answers at once from a fixed frame
// (or with the echo a write expects) and records nothing, a multitasking service whose Sleep
// returns at once, and a Protocol_QARN wired to them. The port's own work per transaction is a
// copy of the answer (and, for echoes, a 6-byte CRC).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <qarn/driver/Protocol_QARN.h>
#include <qarn/host/IMultiTask2.h>
#include <qarn/host/ISerialFactory.h>
#include <qarn/host/ISerialPort.h>
#include "HostService.h"

namespace qarnbench {

class CannedPort final : public qarntest::HostService<ISerialPort> {
  public:
    CannedPort() : HostService("ISerialPort", "BenchSerialPort", 1) {}

    // Every read request is answered with `frame`.
    void answer(const std::vector<uint8_t>& frame);
    // Every write request (function 5, 6 or 16) is answered with its node, function, address
    // and data (or count), with their CRC: its acknowledgement. Bare frames only.
    void echo() { echo_ = true; }
    long requests() const { return requests_; }

    int Setup(int, int, int, int, int) override { return 1; }
    int Drain(uint8_t*, int, int) override { return 0; }
    int Send(const uint8_t* frame, int length, int flags) override;
    int Receive(uint8_t* buffer, int size, int timeoutMs, int interCharMs, int* received,
                int flags) override;

  private:
    static constexpr int Capacity = 264;
    uint8_t answer_[Capacity] = {};
    int answerLength_ = 0;
    uint8_t echoFrame_[Capacity] = {};
    bool echoNext_ = false;
    bool echo_ = false;
    long requests_ = 0;
};

class BenchHost {
  public:
    BenchHost();
    ~BenchHost();
    BenchHost(const BenchHost&) = delete;
    BenchHost& operator=(const BenchHost&) = delete;

    // A started instance with the line settings and `nodes`; null (with the reason in `error`)
    // when it cannot be had.
    std::unique_ptr<Protocol_QARN> start(const std::string& nodes, std::string& error);

    CannedPort port;

  private:
    class Factory;
    class MultiTask;
    std::unique_ptr<Factory> factory_;
    std::unique_ptr<MultiTask> multiTask_;
};

// The frame with its Modbus CRC appended.
std::vector<uint8_t> withCrc(std::vector<uint8_t> frame);

}  // namespace qarnbench
