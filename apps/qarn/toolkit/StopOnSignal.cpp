#include <qarn/toolkit/StopOnSignal.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace qarn {

namespace {

std::atomic<bool> stopFlag{false};
std::atomic<StopOnSignal::Action> stopAction{nullptr};
std::atomic<void*> stopContext{nullptr};
std::atomic<int> stopPipe{-1};  // write end of the cancel pipe

extern "C" void onStopSignal(int) {
    stopFlag = true;
    const int fd = stopPipe.load();
    if (fd >= 0) {
        // The pipe only needs to be readable: a full one (many signals) is as good.
        const int saved = errno;
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = write(fd, &byte, 1);
        errno = saved;
    }
    if (const StopOnSignal::Action action = stopAction.load()) {
        action(stopContext.load());
    }
}

}  // namespace

StopOnSignal::StopOnSignal(std::initializer_list<int> signals, Action action, void* context)
    : signals_(signals), previous_(signals.size()) {
    stopFlag = false;
    if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        pipe_[0] = pipe_[1] = -1;
    }
    stopPipe = pipe_[1];
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
    stopPipe = -1;
    for (const int fd : pipe_) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

bool StopOnSignal::stopRequested() {
    return stopFlag;
}

}  // namespace qarn
