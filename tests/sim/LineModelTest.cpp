// What the runner's line models do to the master's side of a pty: a half-duplex slave or a
// queue, echo, noise between frames, delivery in bursts (its arithmetic), the link to the pty
// and the exclusive open of a device.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <climits>
#include <string>
#include <system_error>
#include <thread>

#include <qarn/sim/OutputQueue.h>
#include "SimTestSupport.h"
#include "TempDir.h"

namespace {

// A generic device at node 1 on an unpaced fast line unless the test says otherwise.
struct Line {
    explicit Line(sim::LineSettings line, const sim::FaultConfig& faults = {})
        : engine(5),
          server(
              (engine.addDevice(1, sim::loadProfile("generic")), engine.setFaults(faults), engine),
              line) {
        server.start();
    }
    static sim::LineSettings fast() { return {115200, sim::Parity::None, 1, false}; }

    sim::SlaveEngine engine;
    simtest::PtyServer server;
};

// Reads register n of node 1 and its answer (the generic device holds 0 everywhere).
Bytes readRequest(int n) {
    return frame("01 03 00 " + toHex({static_cast<uint8_t>(n)}) + " 00 01");
}
const Bytes ReadAnswer = frame("01 03 02 00 00");

TEST(LineModel, HalfDuplexSlaveDoesNotHearARequestSentWhileItIsBusyAndAQueueAnswersIt) {
    for (const bool queue : {false, true}) {
        SCOPED_TRACE(queue ? "queue" : "half-duplex");
        sim::LineSettings settings = Line::fast();
        settings.queue = queue;
        sim::FaultConfig slow;
        slow.latencyMs = 250;
        Line line(settings, slow);
        simtest::PtyClient client(line.server.path);
        // The second request (a write, so that its answer differs) ends during the first
        // answer's latency.
        client.send(readRequest(0));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        client.send(frame("01 06 00 02 00 07"));
        EXPECT_EQ(client.receive(ReadAnswer.size(), 2000), ReadAnswer);
        const Bytes second = queue ? frame("01 06 00 02 00 07") : Bytes{};
        EXPECT_EQ(client.receive(std::max<size_t>(second.size(), 1), queue ? 2000 : 500), second);
        // Once the slave is free again it hears the next request.
        client.send(frame("01 03 00 02 00 01"));
        EXPECT_EQ(client.receive(7, 2000), frame(queue ? "01 03 02 00 07" : "01 03 02 00 00"));
        line.server.finish();
        EXPECT_EQ(line.engine.stats().frames, queue ? 3u : 2u);
        EXPECT_EQ(line.server.runner.stats().unheard, queue ? 0u : 1u);
        EXPECT_EQ(line.server.runner.stats().queued, queue ? 1u : 0u);
    }
}

TEST(LineModel, EchoReturnsTheRequestBeforeTheAnswerAndIsNoRequest) {
    for (const bool pace : {false, true}) {
        SCOPED_TRACE(pace ? "paced" : "unpaced");
        sim::LineSettings settings = {38400, sim::Parity::Even, 1, pace};
        settings.echo = true;
        Line line(settings);
        simtest::PtyClient client(line.server.path);
        const Bytes silent = frame("09 03 00 00 00 01");  // no device at node 9
        const std::pair<Bytes, Bytes> exchanges[] = {
            {readRequest(0), ReadAnswer}, {silent, {}}, {readRequest(1), ReadAnswer}};
        size_t echoed = 0;
        for (const auto& [request, answer] : exchanges) {
            client.send(request);
            Bytes expected = request;
            expected.insert(expected.end(), answer.begin(), answer.end());
            EXPECT_EQ(client.receive(expected.size() + 1, 150), expected);
            echoed += request.size();
        }
        line.server.finish();
        EXPECT_EQ(line.engine.stats().frames, 3u);
        EXPECT_EQ(line.engine.stats().answers, 2u);
        EXPECT_EQ(line.server.runner.stats().echoed, echoed);
    }
}

TEST(LineModel, NoiseComesOnlyBetweenFramesAndNeverReachesTheSlave) {
    for (const bool pace : {false, true}) {
        SCOPED_TRACE(pace ? "paced" : "unpaced");
        sim::LineSettings settings = {19200, sim::Parity::None, 1, pace};
        settings.noise = 1;
        Line line(settings);
        simtest::PtyClient client(line.server.path);
        uint64_t noise = 0;
        for (int n = 0; n < 5; ++n) {
            client.send(readRequest(n));
            // The whole answer first, then 1 to 8 bytes of noise.
            const Bytes got = client.receive(ReadAnswer.size() + 9, 150);
            ASSERT_GE(got.size(), ReadAnswer.size() + 1) << toHex(got);
            ASSERT_LE(got.size(), ReadAnswer.size() + 8) << toHex(got);
            EXPECT_EQ(Bytes(got.begin(), got.begin() + 7), ReadAnswer);
            noise += got.size() - ReadAnswer.size();
        }
        line.server.finish();
        EXPECT_EQ(line.engine.stats().frames, 5u);
        EXPECT_EQ(line.server.runner.stats().noiseBursts, 5u);
        EXPECT_EQ(line.server.runner.stats().noiseBytes, noise);
    }
}

TEST(LineModel, BurstsHandOverWhatTheLineCarriedAtEachBoundary) {
    sim::OutputQueue queue(1000, 16000);  // boundaries at 1000, 17000, 33000 ...
    for (uint64_t at : {1000u, 2000u, 16999u, 17000u, 17001u, 40000u}) {
        queue.add(at, static_cast<uint8_t>(at / 1000));
    }
    queue.add(2000, 0xEE);  // after the other byte of its time
    const struct {
        uint64_t nowUs;
        Bytes taken;
        uint64_t nextDue;  // 0: nothing left
    } steps[] = {
        {1000, {1}, 17000},   {16999, {}, 17000}, {17000, {2, 0xEE, 16, 17}, 33000},
        {48999, {17}, 49000}, {49000, {40}, 0},
    };
    for (const auto& s : steps) {
        EXPECT_EQ(queue.take(s.nowUs), s.taken) << s.nowUs;
        EXPECT_EQ(queue.due().value_or(0), s.nextDue) << s.nowUs;
    }
    sim::OutputQueue direct;
    direct.add(5, 1);
    direct.add(3, 2);
    EXPECT_EQ(direct.due(), 3u);
    EXPECT_EQ(direct.take(4), Bytes{2});
}

TEST(LineRunner, KeepsALinkToItsPtyWhileItServesAndOnlyItsOwn) {
    TempDir dir;
    const std::string link = dir.file("line");
    const auto target = [&link] {
        char buffer[PATH_MAX];
        const ssize_t n = readlink(link.c_str(), buffer, sizeof buffer);
        return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
    };
    sim::LineSettings settings = Line::fast();
    settings.link = link;
    auto first = std::make_unique<Line>(settings);
    EXPECT_EQ(target(), first->server.path);
    {
        simtest::PtyClient client(link);
        client.send(readRequest(0));
        EXPECT_EQ(client.receive(7, 2000), ReadAnswer);
    }
    // The line comes back on the same link while the old one is still going...
    Line second(settings);
    EXPECT_EQ(target(), second.server.path);
    first->server.finish();
    first.reset();
    EXPECT_EQ(target(), second.server.path) << "the old simulator removed the new link";
    // ... and goes when its simulator ends.
    second.server.finish();
    EXPECT_EQ(access(link.c_str(), F_OK), -1);
    EXPECT_EQ(errno, ENOENT);

    sim::SlaveEngine engine;
    TempDir::write(link, "not a link");
    EXPECT_THROW(sim::LineRunner(engine, settings).openPty(), std::system_error);
    EXPECT_EQ(TempDir::read(link), "not a link");
    EXPECT_THROW(sim::LineRunner(engine, settings).openSerial("/dev/null"), std::invalid_argument);
}

TEST(LineRunner, ASerialDeviceHeldByAnotherRunnerOrLockIsBusy) {
    sim::SlaveEngine engine;
    sim::LineRunner pty(engine, Line::fast());
    const std::string path = pty.openPty();  // a tty to serve as a serial device
    const auto expectBusy = [&] {
        try {
            sim::LineRunner(engine, Line::fast()).openSerial(path);
            ADD_FAILURE() << "a held device opened";
        } catch (const std::system_error& e) {
            EXPECT_EQ(e.code().value(), EBUSY);
            EXPECT_EQ(std::string(e.what()).rfind("port busy: " + path, 0), 0u) << e.what();
        }
    };
    {
        sim::LineRunner holder(engine, Line::fast());
        holder.openSerial(path);
        expectBusy();
    }
    {
        // As the reference host's port holds it.
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
        expectBusy();
        close(fd);
    }
    sim::LineRunner(engine, Line::fast()).openSerial(path);  // free again
}

}  // namespace
