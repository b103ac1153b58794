// What the line models do on the master's side of a pty: a half-duplex slave or a queue, echo,
// noise between frames, bursts (their arithmetic), the link to the pty, the exclusive open.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <climits>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

#include <qarn/sim/OutputQueue.h>
#include "SimTestSupport.h"
#include "TempDir.h"

namespace {

using simtest::fast;
using simtest::Line;

const Bytes ReadAnswer = frame("01 03 02 00 00");

TEST(LineModel, HalfDuplexSlaveDoesNotHearARequestSentWhileItIsBusyAndAQueueAnswersIt) {
    for (const bool queue : {false, true}) {
        SCOPED_TRACE(queue ? "queue" : "half-duplex");
        sim::LineSettings settings = fast();
        settings.queue = queue;
        sim::FaultConfig slow;
        slow.latencyMs = 250;
        Line line(settings, slow);
        simtest::PtyClient client(line.server.path);
        // A write, ending during the read's latency, then a read once the slave is free again.
        client.send(frame("01 03 00 00 00 01"));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        client.send(frame("01 06 00 02 00 07"));
        EXPECT_EQ(client.receive(ReadAnswer.size(), 2000), ReadAnswer);
        const Bytes written = queue ? frame("01 06 00 02 00 07") : Bytes{};
        EXPECT_EQ(client.receive(std::max<size_t>(written.size(), 1), queue ? 2000 : 500), written);
        client.send(frame("01 03 00 02 00 01"));
        EXPECT_EQ(client.receive(7, 2000), frame(queue ? "01 03 02 00 07" : "01 03 02 00 00"));
        line.server.finish();
        EXPECT_EQ(line.engine.stats().frames, queue ? 3u : 2u);
        EXPECT_EQ(line.server.runner.stats().unheard, queue ? 0u : 1u);
        EXPECT_EQ(line.server.runner.stats().queued, queue ? 1u : 0u);
    }
}

TEST(LineModel, EchoComesBeforeTheAnswerNoiseAfterItAndNeitherReachesTheSlave) {
    const struct {
        bool echo;
        double noise;
        bool pace;
    } cases[] = {{true, 0, false}, {true, 0, true}, {false, 1, false}, {false, 1, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.echo ? "echo" : "noise") + (c.pace ? ", paced" : ""));
        sim::LineSettings settings{38400, sim::Parity::Even, 1, c.pace};
        settings.echo = c.echo;
        settings.noise = c.noise;
        Line line(settings);
        simtest::PtyClient client(line.server.path);
        size_t noise = 0;
        // Node 9 has no device: no answer, no noise.
        for (const Bytes& request :
             {frame("01 03 00 00 00 01"), frame("09 03 00 00 00 01"), frame("01 03 00 01 00 01")}) {
            client.send(request);
            Bytes expected = c.echo ? request : Bytes{};
            const size_t most = request[0] == 1 && c.noise != 0 ? 8 : 0;
            if (request[0] == 1) {
                expected.insert(expected.end(), ReadAnswer.begin(), ReadAnswer.end());
            }
            const Bytes got = client.receive(expected.size() + 9, 150);
            ASSERT_GE(got.size(), expected.size() + (most != 0 ? 1 : 0)) << toHex(got);
            ASSERT_LE(got.size(), expected.size() + most) << toHex(got);
            EXPECT_EQ(Bytes(got.begin(), got.begin() + expected.size()), expected);
            noise += got.size() - expected.size();
        }
        line.server.finish();
        EXPECT_EQ(line.engine.stats().frames, 3u);
        EXPECT_EQ(line.server.runner.stats().echoed, c.echo ? 24u : 0u);
        EXPECT_EQ(line.server.runner.stats().noiseBursts, c.noise != 0 ? 2u : 0u);
        EXPECT_EQ(line.server.runner.stats().noiseBytes, noise);
    }
}

TEST(LineModel, BurstsHandOverWhatTheLineCarriedByEachBoundary) {
    sim::OutputQueue queue(1000, 16000);  // boundaries at 1000, 17000, 33000, 49000
    for (uint64_t at : {1000u, 2000u, 16999u, 17000u, 17001u, 40000u, 2000u}) {
        queue.add(at, static_cast<uint8_t>(at / 1000));
    }
    const std::pair<uint64_t, Bytes> steps[] = {
        {1000, {1}}, {16999, {}}, {17000, {2, 2, 16, 17}}, {48999, {17}}, {49000, {40}}};
    for (const auto& [now, taken] : steps) {
        EXPECT_EQ(queue.take(now), taken) << now;
    }
    EXPECT_FALSE(queue.due().has_value());
}

TEST(LineRunner, KeepsALinkToItsPtyWhileItServesAndOnlyItsOwn) {
    TempDir dir;
    sim::LineSettings settings = fast();
    settings.link = dir.file("line");
    const auto target = [&settings] {
        char buffer[PATH_MAX];
        const ssize_t n = readlink(settings.link.c_str(), buffer, sizeof buffer);
        return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : "none";
    };
    auto first = std::make_unique<Line>(settings);
    EXPECT_EQ(target(), first->server.path);
    {
        simtest::PtyClient client(settings.link);
        client.send(frame("01 03 00 00 00 01"));
        EXPECT_EQ(client.receive(7, 2000), ReadAnswer);
    }
    // The line comes back on the same link while the old one is still going...
    Line second(settings);
    EXPECT_EQ(target(), second.server.path);
    first.reset();
    EXPECT_EQ(target(), second.server.path) << "the old simulator removed the new link";
    // ... and goes when its simulator ends.
    second.server.finish();
    EXPECT_EQ(target(), "none");

    sim::SlaveEngine engine;
    TempDir::write(settings.link, "a file");
    EXPECT_THROW(sim::LineRunner(engine, settings).openPty(), std::system_error);
    EXPECT_EQ(TempDir::read(settings.link), "a file");
    EXPECT_THROW(sim::LineRunner(engine, settings).openSerial("/dev/null"), std::invalid_argument);
}

TEST(LineRunner, ASerialDeviceHeldByAnotherRunnerOrLockIsBusy) {
    sim::SlaveEngine engine;
    sim::LineRunner pty(engine, fast());
    const std::string path = pty.openPty();  // a tty to serve as a serial device
    const auto expectBusy = [&] {
        try {
            sim::LineRunner(engine, fast()).openSerial(path);
            ADD_FAILURE() << "a held device opened";
        } catch (const std::system_error& e) {
            EXPECT_EQ(e.code().value(), EBUSY);
            EXPECT_EQ(std::string(e.what()).rfind("port busy: " + path, 0), 0u) << e.what();
        }
    };
    {
        sim::LineRunner holder(engine, fast());
        holder.openSerial(path);
        expectBusy();
    }
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);  // as the reference host's port
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    expectBusy();
    close(fd);
    sim::LineRunner(engine, fast()).openSerial(path);  // free again
}

}  // namespace
