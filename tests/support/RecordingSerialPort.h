#pragma once
// Serial port double. Records every call in order (with a stamp shared across all doubles) and
// answers like a quiet line: nothing pending, every frame sent, nothing received. Setup can be
// made to fail.
//
// To script a peer, derive and override the hooks onDrain and onReceive; the public operations
// keep recording, so a derived port only decides what comes back.

#include <cstdint>
#include <vector>

#include "HostService.h"
#include "ISerialPort.h"

namespace qarntest {

class RecordingSerialPort : public HostService<ISerialPort> {
  public:
    enum class Op { Setup, Drain, Send, Receive };
    struct Call {
        Op op;
        unsigned long stamp;
        // Setup: baud, parity, data bits, stop bits, mode.
        int setup[5];
        // Send: the frame; Drain and Receive: the size offered.
        std::vector<uint8_t> bytes;
        int size;
        int timeoutMs;       // Receive only
        int interCharMs;     // Receive only
        int receivedPreset;  // Receive only: the caller's count before the call (-1 when null)
        int flags;
        int result;
    };

    RecordingSerialPort();

    int Setup(int baud, int parity, int dataBits, int stopBits, int mode) override;
    int Drain(uint8_t* buffer, int size, int flags) override;
    int Send(const uint8_t* frame, int length, int flags) override;
    int Receive(uint8_t* buffer, int size, int timeoutMs, int interCharMs, int* received,
                int flags) override;

    void setSetupFails(bool fails) { setupFails_ = fails; }

    const std::vector<Call>& calls() const { return calls_; }
    std::vector<std::vector<uint8_t>> sentFrames() const;
    int count(Op op) const;
    void clearCalls() { calls_.clear(); }

  protected:
    // What Drain hands out: bytes stored into `buffer` (at most `size`), 0 when nothing is
    // pending. The quiet line has nothing.
    virtual int onDrain(uint8_t* buffer, int size);
    // What Receive delivers: nonzero with `*received` set, or 0 for silence. The quiet line never
    // answers. `received` is never null here.
    virtual int onReceive(uint8_t* buffer, int size, int* received);

  private:
    Call newCall(Op op);

    bool setupFails_ = false;
    std::vector<Call> calls_;
};

}  // namespace qarntest
