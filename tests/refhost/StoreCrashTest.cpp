// A writer killed at random moments must leave a store that loads, with every key holding its
// old or its new value.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>

#include <qarn/refhost/FileStore.h>
#include "TempDir.h"

using refhost::FileStore;
using Clock = std::chrono::steady_clock;

constexpr int Keys = 12, Rounds = 220;

static std::string key(int i) {
    return "tempNode" + std::to_string(i);
}
static std::string value(int round, int i) {
    return "round" + std::to_string(round) + "-" + std::to_string(i);
}

// A child that overwrites every key with this round's value, one change at a time.
static pid_t startWriter(const std::string& path, int round) {
    const pid_t pid = fork();
    if (pid == 0) {
        FileStore store(path);
        for (int i = 0; i < Keys; ++i) {
            if (store.SetValue("QARN", key(i).c_str(), value(round, i).c_str()) == 0) {
                _exit(2);
            }
        }
        _exit(0);
    }
    return pid;
}

TEST(FileStoreCrash, KilledWriterLeavesOldOrNewValues) {
    TempDir dir;
    const std::string path = dir.file("store.ini");
    // The kills aim inside the time a whole writer takes on this machine, in this build.
    int status = 0;
    const auto t0 = Clock::now();
    ASSERT_GT(waitpid(startWriter(path, 1), &status, 0), 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    auto writerUs =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0).count();

    std::mt19937 random(12345);
    int interrupted = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(120);
    for (int round = 2; round < Rounds + 2; ++round) {
        ASSERT_LT(Clock::now(), deadline) << "crash test ran out of time";
        const pid_t pid = startWriter(path, round);
        ASSERT_GT(pid, 0);
        usleep(
            static_cast<useconds_t>(std::uniform_int_distribution<long long>(0, writerUs)(random)));
        kill(pid, SIGKILL);
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        if (WIFSIGNALED(status)) {
            ++interrupted;
        } else {  // done before the kill: aim earlier from now on
            ASSERT_EQ(WEXITSTATUS(status), 0);
            writerUs = writerUs * 3 / 4 + 1;
        }
        FileStore store(path);
        ASSERT_TRUE(store.load()) << "round " << round << ": " << store.error();
        ASSERT_EQ(store.GetValueCount("QARN"), Keys) << "round " << round;
        // Keys are written in order: the new values form a prefix, the rest keep the old ones.
        bool seenOld = false;
        FileStore::Sections settled;
        for (int i = 0; i < Keys; ++i) {
            ASSERT_NE(store.GetValue("QARN", key(i).c_str()), nullptr) << key(i);
            const std::string v = store.GetValue("QARN", key(i).c_str());
            seenOld = seenOld || v != value(round, i);
            ASSERT_EQ(v, value(seenOld ? round - 1 : round, i)) << "round " << round << " " << i;
            settled["QARN"][key(i)] = value(round, i);
        }
        TempDir::write(path, FileStore::serialize(settled));  // the next round's old values
    }
    EXPECT_GT(interrupted, Rounds / 4) << "the kills hardly ever caught a writer at work";
}
