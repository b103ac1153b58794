// The simulator's receiver and engine on arbitrary byte streams: frames built from the input are
// fed to an RtuReceiver in pieces and with gaps, and every frame it cuts goes to a SlaveEngine
// with a small I/O device (node 1), a meter (node 2) and an ISMG device (node 3).
//
// Input: a set-up byte (bit 0: faults on, with five more bytes for every-n-th rules and two for
// the delay and the exception code; the whole byte seeds the engine), then frames, each a mode
// byte, a delivery byte and a chunk of bytes (FuzzInput.h). Mode bit 0 appends the CRC, bit 1
// wraps the frame for ISMG, bit 2 puts node (mode >> 4) & 3 in front. The delivery byte's low
// half splits the frame into that many pieces plus one, its high half is the silence before it
// in milliseconds.
//
// Properties: the receiver loses, adds and reorders no byte and cuts no frame longer than a line
// frame; every frame handed to the engine is counted exactly once as answered, ignored, a
// broadcast or dropped; an answer without an injected fault is a complete answer to its request
// as the host side judges it (rtu::isCompleteAnswer), from the node asked.

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "FuzzInput.h"
#include "RtuFrame.h"
#include "RtuReceiver.h"
#include "SlaveEngine.h"
#include "SlaveFrames.h"

namespace {

using namespace qarnfuzz;
using Bytes = std::vector<uint8_t>;

constexpr int MaxFrames = 32;
// 3.5 characters of 11 bits at 9600 baud.
constexpr uint64_t SilenceUs = 4011;
constexpr uint64_t PieceGapUs = 100;

// Every area with its edges (the first and the last items of the address space), read-only and
// live items; the built-in generic device holds all 65536 items of each area, which makes every
// run slow without reaching more code.
const char IoDevice[] =
    "coil 1..64 0\n"
    "coil 65530..65536 1\n"
    "coil 9 1 ro\n"
    "input 100001..100040 index\n"
    "input 165536 1\n"
    "hreg 400001..400130 uint16 7\n"
    "hreg 400010 uint32 70000 lsw\n"
    "hreg 400020 float32 21.5 ro\n"
    "hreg 465500..465536 index\n"
    "ireg 300001..300130 index\n"
    "ireg 300003 uint32 0 rate 2.5\n"
    "ireg 300005 int32 -40 wave 20 60 noise 1\n";

const std::array<sim::Profile, 3>& profiles() {
    static const std::array<sim::Profile, 3> loaded = {
        sim::parseProfile(IoDevice, "io"), sim::loadProfile("EM24"), sim::loadProfile("ISMG1xx")};
    return loaded;
}

uint64_t delta(const sim::EngineStats& after, const sim::EngineStats& before,
               uint64_t sim::EngineStats::*field) {
    return after.*field - before.*field;
}

void checkAnswer(const Bytes& request, const sim::Reply& reply, const sim::EngineStats& before,
                 const sim::EngineStats& after, const sim::FaultConfig& faults) {
    auto struck = [&](sim::Fault f) {
        const size_t i = static_cast<size_t>(f);
        return after.faults[i] != before.faults[i];
    };
    FUZZ_CHECK(reply.bytes.size() <= sim::MaxFrameLength,
               "answer of " + std::to_string(reply.bytes.size()) + " bytes");
    FUZZ_CHECK(reply.delayMs == (struck(sim::Fault::Delay) ? faults.delayMs : 0),
               "answer delayed by " + std::to_string(reply.delayMs) + " ms");
    if (struck(sim::Fault::BadCrc) || struck(sim::Fault::WrongNode)) {
        return;
    }
    FUZZ_CHECK(rtu::isCompleteAnswer(request.data(), request.size(), reply.bytes.data(),
                                     reply.bytes.size()),
               "answer the host side would not accept");
    const rtu::FrameView asked = rtu::unwrap(request.data(), request.size());
    const rtu::FrameView answered = rtu::unwrap(reply.bytes.data(), reply.bytes.size());
    FUZZ_CHECK(answered.data[0] == asked.data[0], "answer from another node");
}

void process(sim::SlaveEngine& engine, const sim::ReceivedFrame& frame, uint64_t nowUs,
             const sim::FaultConfig& faults) {
    FUZZ_CHECK(!frame.bytes.empty() && frame.bytes.size() <= sim::MaxFrameLength,
               "frame of " + std::to_string(frame.bytes.size()) + " bytes");
    FUZZ_CHECK(frame.firstByteUs <= frame.lastByteUs && frame.lastByteUs <= nowUs,
               "frame times out of order");
    const sim::EngineStats before = engine.stats();
    const std::optional<sim::Reply> reply =
        engine.process(frame.bytes.data(), frame.bytes.size(), nowUs / 1000);
    const sim::EngineStats& after = engine.stats();
    const size_t drop = static_cast<size_t>(sim::Fault::Drop);
    FUZZ_CHECK(delta(after, before, &sim::EngineStats::frames) == 1, "frame not counted");
    FUZZ_CHECK(delta(after, before, &sim::EngineStats::answers) +
                       delta(after, before, &sim::EngineStats::ignored) +
                       delta(after, before, &sim::EngineStats::broadcasts) +
                       (after.faults[drop] - before.faults[drop]) ==
                   1,
               "frame counted twice or not at all");
    FUZZ_CHECK(reply.has_value() == (delta(after, before, &sim::EngineStats::answers) == 1),
               "answers counted wrongly");
    if (reply) {
        checkAnswer(frame.bytes, *reply, before, after, faults);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const uint8_t setup = in.byte();
    sim::FaultConfig faults;
    if ((setup & 1) != 0) {
        for (sim::FaultRule& rule : faults.rules) {
            rule.every = in.byte() % 8;
        }
        faults.delayMs = in.byte();
        faults.exceptionCode = in.byte();
    }
    sim::SlaveEngine engine(setup);
    engine.addDevice(1, profiles()[0]);
    engine.addDevice(2, profiles()[1]);
    engine.addDevice(3, profiles()[2]);
    engine.setFaults(faults);

    sim::RtuReceiver receiver(SilenceUs);
    Bytes fed;
    Bytes cut;
    uint64_t now = 0;
    auto takeFrames = [&] {
        while (receiver.hasFrame()) {
            const sim::ReceivedFrame frame = receiver.takeFrame();
            cut.insert(cut.end(), frame.bytes.begin(), frame.bytes.end());
            process(engine, frame, now, faults);
        }
    };

    for (int n = 0; n < MaxFrames && !in.empty(); ++n) {
        const uint8_t mode = in.byte();
        const uint8_t delivery = in.byte();
        Bytes frame;
        if ((mode & 4) != 0) {
            frame.push_back(static_cast<uint8_t>((mode >> 4) & 3));
        }
        const Bytes body = in.chunk();
        frame.insert(frame.end(), body.begin(), body.end());
        if ((mode & 1) != 0) {
            sim::appendCrc(frame);
        }
        if ((mode & 2) != 0) {
            frame = sim::wrapIsmg(frame);
        }
        fed.insert(fed.end(), frame.begin(), frame.end());

        now += static_cast<uint64_t>(delivery >> 4) * 1000;
        receiver.poll(now);
        takeFrames();
        const size_t pieces = (delivery & 0x0F) + 1u;
        const size_t step = frame.size() / pieces + 1;
        for (size_t at = 0; at < frame.size(); at += step) {
            const size_t length = std::min(step, frame.size() - at);
            receiver.feed(frame.data() + at, length, now);
            takeFrames();
            now += PieceGapUs;
        }
    }
    if (const std::optional<uint64_t> deadline = receiver.deadline()) {
        now = *deadline;
        receiver.poll(now);
        takeFrames();
    }
    FUZZ_CHECK(!receiver.deadline().has_value(), "bytes left pending after the silence");
    FUZZ_CHECK(cut == fed, "the receiver changed the stream: " + std::to_string(fed.size()) +
                               " bytes fed, " + std::to_string(cut.size()) + " cut");
    return 0;
}
