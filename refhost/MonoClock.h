#pragma once
// Monotonic time in microseconds, and sleeping until a point of it. Shared by the services that
// keep time on the line.

#include <cstdint>

namespace refhost {

int64_t monoNowUs();
// Returns once the monotonic clock has reached `deadlineUs`; signals do not cut the wait short.
void sleepUntil(int64_t deadlineUs);

}  // namespace refhost
