// Byte streams fed to the simulator's RtuReceiver in pieces and with gaps, each frame it cuts to a
// SlaveEngine (layout and properties in README.md).

#include <algorithm>
#include <optional>

#include <qarn/rtu/Crc.h>
#include <qarn/rtu/Frame.h>
#include <qarn/sim/RtuReceiver.h>
#include <qarn/sim/SlaveEngine.h>
#include "FuzzInput.h"

using Bytes = std::vector<uint8_t>;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Area edges and read-only items; live values come with the meter. The built-in generic
    // device, with all 65536 items of each area, would make every run slow.
    static const sim::Profile Profiles[] = {
        sim::parseProfile("coil 1..64 0\ncoil 65530..65536 1\ncoil 9 1 ro\ninput 100001..100040 "
                          "index\ninput 165536 1\nhreg 400001..400130 uint16 7\nhreg 400010 uint32 "
                          "70000 lsw\nhreg 400020 float32 21.5 ro\nhreg 465500..465536 index\n"
                          "ireg 300001..300130 index\nireg 300005 int32 -40 wave 20 60 noise 1\n",
                          "io"),
        sim::loadProfile("EM24"), sim::loadProfile("ISMG1xx")};
    qarnfuzz::FuzzInput in{data, size};
    sim::SlaveEngine engine(in.byte());
    for (uint8_t node = 1; node <= 3; ++node) {
        engine.addDevice(node, Profiles[node - 1]);
    }

    sim::RtuReceiver receiver(4011);  // 3.5 characters of 11 bits at 9600 baud
    Bytes fed, cut;
    uint64_t now = 0;
    const auto takeFrames = [&] {
        receiver.poll(now);
        while (receiver.hasFrame()) {
            const Bytes request = receiver.takeFrame().bytes;
            cut.insert(cut.end(), request.begin(), request.end());
            FUZZ_CHECK(!request.empty() && request.size() <= rtu::MaxWrappedFrameLength,
                       "frame of " + std::to_string(request.size()) + " bytes");
            const std::optional<sim::Reply> reply =
                engine.process(request.data(), request.size(), now / 1000);
            // An answer is one the master accepts, from the node asked.
            FUZZ_CHECK(!reply || (rtu::isCompleteAnswer(request.data(), request.size(),
                                                        reply->bytes.data(), reply->bytes.size()) &&
                                  rtu::unwrap(reply->bytes.data(), reply->bytes.size()).data[0] ==
                                      rtu::unwrap(request.data(), request.size()).data[0]),
                       "answer the host side would not accept");
        }
    };
    for (int n = 0; n < 32 && !in.empty(); ++n) {
        const uint8_t mode = in.byte(), delivery = in.byte();
        Bytes frame = in.chunk();
        if ((mode & 4) != 0) {
            frame.insert(frame.begin(), static_cast<uint8_t>((mode >> 4) & 3));
        }
        if ((mode & 1) != 0) {
            rtu::appendCrc(frame);
        }
        frame = (mode & 2) != 0 ? rtu::wrapIsmg(frame) : frame;
        fed.insert(fed.end(), frame.begin(), frame.end());
        now += static_cast<uint64_t>(delivery >> 4) * 1000;  // silence before the frame
        takeFrames();
        // In pieces, 100 us apart.
        const size_t step = frame.size() / ((delivery & 0x0F) + 1u) + 1;
        for (size_t at = 0; at < frame.size(); at += step, now += 100) {
            receiver.feed(frame.data() + at, std::min(step, frame.size() - at), now);
            takeFrames();
        }
    }
    now = receiver.deadline().value_or(now);
    takeFrames();
    FUZZ_CHECK(!receiver.deadline().has_value(), "bytes left pending after the silence");
    FUZZ_CHECK(cut == fed,
               std::to_string(fed.size()) + " bytes fed, " + std::to_string(cut.size()) + " cut");
    return 0;
}
