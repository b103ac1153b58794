#include <qarn/refhost/MultiTask.h>

#include <cstring>

#include "MonoClock.h"

namespace refhost {

void* MultiTask::ConvertTo(const char* name) {
    if (name != nullptr &&
        (std::strcmp(name, "IMultiTask2") == 0 || std::strcmp(name, "IMultiTask") == 0)) {
        return this;
    }
    return nullptr;
}

const char* MultiTask::GetImpName() const {
    return "RefHostMultiTask";
}

int MultiTask::GetImpVersion() const {
    return 100;
}

void MultiTask::Sleep(int ms) {
    if (ms <= 0) {
        return;
    }
    sleepUntil(monoNowUs() + static_cast<int64_t>(ms) * 1000);
}

}  // namespace refhost
