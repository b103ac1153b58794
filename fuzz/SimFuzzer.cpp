// The simulator's receiver and engine on arbitrary byte streams: frames fed to an RtuReceiver in
// pieces and with gaps, each frame it cuts to a SlaveEngine (layout and properties in README.md).

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "RtuFrame.h"
#include "RtuReceiver.h"
#include "SlaveEngine.h"
#include "SlaveFrames.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int MaxFrames = 32;
// 3.5 characters of 11 bits at 9600 baud.
constexpr uint64_t SilenceUs = 4011;
constexpr uint64_t PieceGapUs = 100;

// Area edges, read-only and live items: the built-in generic device, with all 65536 items of each
// area, would make every run slow without reaching more code.
const char IoDevice[] =
    "coil 1..64 0\ncoil 65530..65536 1\ncoil 9 1 ro\n"
    "input 100001..100040 index\ninput 165536 1\n"
    "hreg 400001..400130 uint16 7\nhreg 400010 uint32 70000 lsw\nhreg 400020 float32 21.5 ro\n"
    "hreg 465500..465536 index\n"
    "ireg 300001..300130 index\nireg 300003 uint32 0 rate 2.5\n"
    "ireg 300005 int32 -40 wave 20 60 noise 1\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qarnfuzz::FuzzInput in(data, size);
    const uint8_t setup = in.byte();
    sim::FaultConfig faults;
    if ((setup & 1) != 0) {
        for (sim::FaultRule& rule : faults.rules) {
            rule.every = in.byte() % 8;
        }
        faults.delayMs = in.byte();
        faults.exceptionCode = in.byte();
    }
    static const sim::Profile Profiles[] = {sim::parseProfile(IoDevice, "io"),
                                            sim::loadProfile("EM24"), sim::loadProfile("ISMG1xx")};
    sim::SlaveEngine engine(setup);
    for (uint8_t node = 1; node <= 3; ++node) {
        engine.addDevice(node, Profiles[node - 1]);
    }
    engine.setFaults(faults);

    sim::RtuReceiver receiver(SilenceUs);
    Bytes fed;
    Bytes cut;
    uint64_t now = 0;
    auto takeFrames = [&] {
        while (receiver.hasFrame()) {
            const Bytes request = receiver.takeFrame().bytes;
            cut.insert(cut.end(), request.begin(), request.end());
            FUZZ_CHECK(!request.empty() && request.size() <= sim::MaxFrameLength,
                       "frame of " + std::to_string(request.size()) + " bytes");
            const auto struck = engine.stats().faults;
            const std::optional<sim::Reply> reply =
                engine.process(request.data(), request.size(), now / 1000);
            if (reply && engine.stats().faults == struck) {
                const Bytes& answer = reply->bytes;
                FUZZ_CHECK(rtu::isCompleteAnswer(request.data(), request.size(), answer.data(),
                                                 answer.size()) &&
                               rtu::unwrap(answer.data(), answer.size()).data[0] ==
                                   rtu::unwrap(request.data(), request.size()).data[0],
                           "answer the host side would not accept");
            }
        }
    };
    for (int n = 0; n < MaxFrames && !in.empty(); ++n) {
        const uint8_t mode = in.byte();
        const uint8_t delivery = in.byte();
        Bytes frame = in.chunk();
        if ((mode & 4) != 0) {
            frame.insert(frame.begin(), static_cast<uint8_t>((mode >> 4) & 3));
        }
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
        const size_t step = frame.size() / ((delivery & 0x0F) + 1u) + 1;
        for (size_t at = 0; at < frame.size(); at += step) {
            receiver.feed(frame.data() + at, std::min(step, frame.size() - at), now);
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
    FUZZ_CHECK(cut == fed,
               std::to_string(fed.size()) + " bytes fed, " + std::to_string(cut.size()) + " cut");
    return 0;
}
