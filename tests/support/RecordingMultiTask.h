#pragma once
// Multitasking service double: Sleep records what was asked and returns at once, so tests of
// delays run in no time and can check the exact milliseconds.

#include <vector>

#include "HostService.h"
#include "IMultiTask2.h"

namespace qarntest {

class RecordingMultiTask : public HostService<IMultiTask2> {
  public:
    struct SleepCall {
        int ms;
        unsigned long stamp;
    };

    RecordingMultiTask() : HostService("IMultiTask2", "TestMultiTask", 3) {}

    void Sleep(int ms) override { sleeps_.push_back({ms, nextCallStamp()}); }

    const std::vector<SleepCall>& sleeps() const { return sleeps_; }
    void clearCalls() { sleeps_.clear(); }

  private:
    std::vector<SleepCall> sleeps_;
};

}  // namespace qarntest
