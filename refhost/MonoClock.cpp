#include "MonoClock.h"

#include <cerrno>
#include <ctime>

namespace refhost {

int64_t monoNowUs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

void sleepUntil(int64_t deadlineUs) {
    timespec deadline{};
    deadline.tv_sec = static_cast<time_t>(deadlineUs / 1000000);
    deadline.tv_nsec = static_cast<long>((deadlineUs % 1000000) * 1000);
    // An absolute deadline makes the restart after a signal exact: no time is added or lost.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

}  // namespace refhost
