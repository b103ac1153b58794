#pragma once

#include "IInterface.h"

// The host's multitasking service. Only Sleep is used; the slots before it keep it at the host's
// fifth own slot.
class IMultiTask2 : public IInterface {
  public:
    virtual void unusedSlot1() {}
    virtual void unusedSlot2() {}
    virtual void unusedSlot3() {}
    virtual void unusedSlot4() {}
    // Returns after `ms` milliseconds.
    virtual void Sleep(int ms) = 0;
};
