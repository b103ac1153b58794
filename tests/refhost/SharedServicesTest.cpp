// The services that every line of a gateway shares, used from several threads at once: the
// store loses no change and hands out no text another thread is changing; the serial factory
// keeps each thread's failures and port settings apart. Run under the sanitizers too.

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <qarn/refhost/FileStore.h>
#include <qarn/refhost/SerialFactory.h>
#include "TempDir.h"

namespace {

TEST(SharedStore, ThreadsChangingAndReadingTheirSectionsLoseNothing) {
    TempDir dir;
    refhost::FileStore store(dir.file("store.ini"));
    ASSERT_TRUE(store.load());
    constexpr int Threads = 4;
    constexpr int Keys = 25;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([&, t] {
            const std::string section = "line" + std::to_string(t);
            const std::string other = "line" + std::to_string((t + 1) % Threads);
            for (int k = 0; k < Keys; ++k) {
                const std::string key = "k" + std::to_string(k);
                const std::string value = section + "-" + std::to_string(k);
                if (store.SetValue(section.c_str(), key.c_str(), value.c_str()) != 1) {
                    ++wrong;
                }
                // Reads of another section while its thread changes it: whole texts only.
                for (int i = 0; i < store.GetValueCount(other.c_str()); ++i) {
                    const char* name = store.GetValueName(other.c_str(), i);
                    const char* seen = name != nullptr ? store.GetValue(other.c_str(), name) : "";
                    if (seen != nullptr && std::string(seen).rfind(other + "-", 0) != 0) {
                        ++wrong;
                    }
                }
                char buffer[32];
                if (store.CopyValue(section.c_str(), key.c_str(), buffer, sizeof buffer) != 1 ||
                    value != buffer) {
                    ++wrong;
                }
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(store.failedWrites(), 0) << store.error();
    // Every change is on disk: a fresh store reads them all.
    refhost::FileStore again(dir.file("store.ini"));
    ASSERT_TRUE(again.load()) << again.error();
    for (int t = 0; t < Threads; ++t) {
        const std::string section = "line" + std::to_string(t);
        ASSERT_EQ(again.GetValueCount(section.c_str()), Keys) << section;
        EXPECT_STREQ(again.GetValue(section.c_str(), "k24"), (section + "-24").c_str());
    }
}

TEST(SharedSerialFactory, EachThreadSeesItsOwnLine) {
    refhost::SerialFactory ports;
    ports.map("com1", "/nonexistent/tty-one");
    ports.setLateGuardMs(50);
    std::string seen[2];
    auto line = [&](int n, const char* name) {
        ports.clearError();
        ports.beginReport();
        for (int i = 0; i < 200; ++i) {
            EXPECT_EQ(ports.OpenSerial(name), nullptr);
            seen[n] = ports.lastError();
        }
        EXPECT_EQ(ports.report().attempts, 0);
        ports.endLine();
    };
    std::thread a(line, 0, "com1");
    std::thread b(line, 1, "com7");
    a.join();
    b.join();
    EXPECT_NE(seen[0].find("tty-one"), std::string::npos) << seen[0];
    EXPECT_NE(seen[1].find("'com7' is not mapped"), std::string::npos) << seen[1];
    // The main thread's line saw none of it.
    EXPECT_EQ(ports.lastError(), "");
}

}  // namespace
