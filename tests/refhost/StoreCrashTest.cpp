// A writer killed at random moments must leave a store that loads, with every key holding its
// old or its new value, and the new values in the order they were written.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>

#include "FileStore.h"
#include "TempDir.h"

using refhost::FileStore;

namespace {

constexpr int Keys = 12;
constexpr int Rounds = 220;

std::string key(int i) {
    return "tempNode" + std::to_string(i);
}
std::string value(int round, int i) {
    return "round" + std::to_string(round) + "-" + std::to_string(i);
}

// Runs in the child: overwrites every key with this round's value, one change at a time, then
// reports on `report` how long that took.
[[noreturn]] void writeRound(const std::string& path, int round, int report) {
    const auto t0 = std::chrono::steady_clock::now();
    FileStore store(path);
    store.load();
    for (int i = 0; i < Keys; ++i) {
        if (store.SetValue("QARN", key(i).c_str(), value(round, i).c_str()) == 0) {
            _exit(2);
        }
    }
    const long long us =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0)
            .count();
    const ssize_t written = write(report, &us, sizeof us);
    _exit(written == sizeof us ? 0 : 3);
}

pid_t startWriter(const std::string& path, int round, int report) {
    const pid_t pid = fork();
    if (pid == 0) {
        writeRound(path, round, report);
    }
    return pid;
}

}  // namespace

TEST(FileStoreCrash, KilledWriterLeavesOldOrNewValues) {
    TempDir dir;
    const std::string path = dir.file("store.ini");
    {
        FileStore::Sections initial;
        for (int i = 0; i < Keys; ++i) {
            initial["QARN"][key(i)] = value(0, i);
        }
        TempDir::write(path, FileStore::serialize(initial));
    }

    int report[2];
    ASSERT_EQ(pipe(report), 0);
    // Writers that finish tell how long they took; the kills aim inside that time, so most of
    // them catch a writer at work however fast or loaded the machine is.
    long long writerUs = 0;
    int status = 0;
    const pid_t first = startWriter(path, 1, report[1]);
    ASSERT_GT(first, 0);
    ASSERT_EQ(waitpid(first, &status, 0), first);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_EQ(read(report[0], &writerUs, sizeof writerUs), static_cast<ssize_t>(sizeof writerUs));
    fcntl(report[0], F_SETFL, O_NONBLOCK);

    std::mt19937 random(12345);
    int interrupted = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    for (int round = 2; round < Rounds + 2; ++round) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "crash test ran out of time";
        const pid_t pid = startWriter(path, round, report[1]);
        ASSERT_GT(pid, 0);
        usleep(static_cast<useconds_t>(
            std::uniform_int_distribution<long long>(0, std::max(writerUs, 1LL))(random)));
        kill(pid, SIGKILL);
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        // A writer killed right after its report leaves one behind: take whatever is there.
        long long tookUs = 0;
        bool reported = false;
        while (read(report[0], &tookUs, sizeof tookUs) == static_cast<ssize_t>(sizeof tookUs)) {
            reported = true;
        }
        if (WIFSIGNALED(status)) {
            ++interrupted;
        } else {
            ASSERT_EQ(WEXITSTATUS(status), 0);
            ASSERT_TRUE(reported);
            writerUs = (3 * writerUs + tookUs) / 4;
        }

        FileStore store(path);
        ASSERT_TRUE(store.load()) << "round " << round << ": " << store.error();
        ASSERT_EQ(store.GetValueCount("QARN"), Keys) << "round " << round;
        // Keys are written in order: the new values form a prefix, the rest keep the old ones.
        bool seenOld = false;
        for (int i = 0; i < Keys; ++i) {
            const char* v = store.GetValue("QARN", key(i).c_str());
            ASSERT_NE(v, nullptr);
            const std::string now = v;
            if (now == value(round, i)) {
                ASSERT_FALSE(seenOld) << "round " << round << ": " << key(i) << " new after old";
            } else {
                ASSERT_EQ(now, value(round - 1, i)) << "round " << round << ": " << key(i);
                seenOld = true;
            }
        }
        // The next round's old values are this round's result: make it uniform again.
        FileStore::Sections settled;
        for (int i = 0; i < Keys; ++i) {
            settled["QARN"][key(i)] = value(round, i);
        }
        TempDir::write(path, FileStore::serialize(settled));
    }
    close(report[0]);
    close(report[1]);
    EXPECT_GT(interrupted, Rounds / 4) << "the kills hardly ever caught a writer at work";
}
