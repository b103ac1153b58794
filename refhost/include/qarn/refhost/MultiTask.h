#pragma once
// The host's multitasking service: only Sleep is ever called.

#include <qarn/host/IMultiTask2.h>

namespace refhost {

class MultiTask final : public IMultiTask2 {
  public:
    void* ConvertTo(const char* name) override;
    const char* GetImpName() const override;
    int GetImpVersion() const override;

    // Sleeps on the monotonic clock, so changes of the wall clock do not stretch or cut it, and
    // goes back to sleep for the rest of the time when a signal interrupts it.
    void Sleep(int ms) override;
};

}  // namespace refhost
