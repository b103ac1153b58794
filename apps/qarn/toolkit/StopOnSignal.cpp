#include <qarn/toolkit/StopOnSignal.h>

#include <atomic>

namespace qarn {

namespace {

std::atomic<bool> stopFlag{false};
std::atomic<StopOnSignal::Action> stopAction{nullptr};
std::atomic<void*> stopContext{nullptr};

extern "C" void onStopSignal(int) {
    stopFlag = true;
    if (const StopOnSignal::Action action = stopAction.load()) {
        action(stopContext.load());
    }
}

}  // namespace

StopOnSignal::StopOnSignal(std::initializer_list<int> signals, Action action, void* context)
    : signals_(signals), previous_(signals.size()) {
    stopFlag = false;
    stopContext = context;
    stopAction = action;
    struct sigaction handler {};
    handler.sa_handler = onStopSignal;
    sigemptyset(&handler.sa_mask);
    for (size_t i = 0; i < signals_.size(); ++i) {
        sigaction(signals_[i], &handler, &previous_[i]);
    }
}

StopOnSignal::~StopOnSignal() {
    for (size_t i = 0; i < signals_.size(); ++i) {
        sigaction(signals_[i], &previous_[i], nullptr);
    }
    stopAction = nullptr;
    stopContext = nullptr;
}

bool StopOnSignal::stopRequested() {
    return stopFlag;
}

}  // namespace qarn
