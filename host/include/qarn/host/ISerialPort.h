#pragma once

#include <cstdint>

#include "IInterface.h"

// One open serial line, handed out by ISerialFactory.
class ISerialPort : public IInterface {
  public:
    // parity: 0 none, 1 even, 2 odd, 3 mark; mode: 0 RS-232, 1 RS-485, 2 RS-422.
    // Nonzero when the line is ready.
    virtual int Setup(int baud, int parity, int dataBits, int stopBits, int mode) = 0;
    virtual void unusedSlot2() {}
    // Takes what is pending into `buffer`; called until it returns 0, after which nothing stale
    // is pending.
    virtual int Drain(uint8_t* buffer, int size, int flags) = 0;
    // Sends `length` bytes of `frame`.
    virtual int Send(const uint8_t* frame, int length, int flags) = 0;
    // Waits up to `timeoutMs` for the first byte, then ends the frame when no byte arrives for
    // `interCharMs`. Nonzero when bytes arrived; `*received` holds their count (at most `size`).
    virtual int Receive(uint8_t* buffer, int size, int timeoutMs, int interCharMs, int* received,
                        int flags) = 0;
};
