#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>

#include <qarn/toolkit/StopOnSignal.h>

namespace {

void (*handlerOf(int signal))(int) {
    struct sigaction now {};
    sigaction(signal, nullptr, &now);
    return now.sa_handler;
}

TEST(StopOnSignal, TurnsItsSignalsIntoAStopRequestAndGivesTheHandlersBackAfterwards) {
    const auto hangUp = handlerOf(SIGHUP), interrupt = handlerOf(SIGINT);
    int actions = 0;
    {
        const qarn::StopOnSignal stop(
            {SIGINT, SIGHUP}, [](void* count) { ++*static_cast<int*>(count); }, &actions);
        EXPECT_FALSE(qarn::StopOnSignal::stopRequested());
        pollfd cancel{stop.cancelFd(), POLLIN, 0};
        EXPECT_EQ(poll(&cancel, 1, 0), 0);
        raise(SIGHUP);
        EXPECT_TRUE(qarn::StopOnSignal::stopRequested());
        EXPECT_EQ(poll(&cancel, 1, 0), 1) << "a wait on the cancel descriptor ends";
        raise(SIGINT);
        EXPECT_EQ(actions, 2);
    }
    EXPECT_EQ(handlerOf(SIGHUP), hangUp);
    EXPECT_EQ(handlerOf(SIGINT), interrupt);
    // The next one starts without the request of the one before.
    const qarn::StopOnSignal next;
    EXPECT_FALSE(qarn::StopOnSignal::stopRequested());
}

}  // namespace
