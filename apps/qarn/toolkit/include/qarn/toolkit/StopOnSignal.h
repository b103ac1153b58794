#pragma once
// Ctrl-C and friends as a request to stop, not as the end of the process: while a StopOnSignal
// lives, the signals it was given only raise stopRequested(), make cancelFd() readable and call
// its action; the previous handlers come back afterwards. One at a time.

#include <signal.h>

#include <initializer_list>
#include <vector>

namespace qarn {

class StopOnSignal {
  public:
    // Runs inside the signal handler: it must be async-signal-safe.
    using Action = void (*)(void* context);

    explicit StopOnSignal(std::initializer_list<int> signals = {SIGINT, SIGTERM},
                          Action action = nullptr, void* context = nullptr);
    ~StopOnSignal();
    StopOnSignal(const StopOnSignal&) = delete;
    StopOnSignal& operator=(const StopOnSignal&) = delete;

    // Whether one of the signals came since the last StopOnSignal was made.
    static bool stopRequested();
    // A descriptor that becomes readable when one of the signals comes, for waits that should
    // end at once then (poll() it; never read from it). -1 when no pipe could be made.
    int cancelFd() const { return pipe_[0]; }

  private:
    int pipe_[2] = {-1, -1};
    std::vector<int> signals_;
    std::vector<struct sigaction> previous_;
};

}  // namespace qarn
