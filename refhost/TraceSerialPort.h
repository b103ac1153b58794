#pragma once
// A serial port that reports its traffic to a FrameSink. Only put in front of a port when a
// trace is asked for, so an untraced line pays nothing. What happens inside a wait (a guard wait,
// a frame thrown away, a reopen) the port notes itself, as it happens.

#include <string>
#include <vector>

#include <qarn/host/ISerialPort.h>
#include <qarn/refhost/FrameSink.h>
#include <qarn/refhost/SerialPort.h>

namespace refhost {

class TraceSerialPort final : public ISerialPort {
  public:
    TraceSerialPort(SerialPort& inner, FrameSink& trace, std::string name)
        : inner_(inner), trace_(trace), name_(std::move(name)) {}

    void* ConvertTo(const char* name) override;
    const char* GetImpName() const override;
    int GetImpVersion() const override;

    int Setup(int baud, int parity, int dataBits, int stopBits, int mode) override;
    int Drain(uint8_t* buffer, int size, int flags) override;
    // Traces the frame once it is out, so that a wait before it is noted first.
    int Send(const uint8_t* frame, int length, int flags) override;
    int Receive(uint8_t* buffer, int size, int timeoutMs, int interCharMs, int* received,
                int flags) override;

  private:
    SerialPort& inner_;
    // The sink gets the frame as it travels, stamped with its first byte's monotonic time.
    void report(const char* direction, const uint8_t* data, size_t length, bool fromMaster,
                int64_t firstByteUs);

    FrameSink& trace_;
    std::string name_;
    std::vector<uint8_t> sent_;  // the last frame sent, shown again as its echo
};

}  // namespace refhost
