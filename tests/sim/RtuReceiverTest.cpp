// Splitting a byte stream into request frames: by recognising a complete request, or by the
// silence after the last byte.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <qarn/sim/RtuReceiver.h>
#include "TestBytes.h"

namespace {

constexpr uint64_t Silence = 4000;

std::vector<std::string> drain(sim::RtuReceiver& r) {
    std::vector<std::string> out;
    while (r.hasFrame()) {
        out.push_back(toHex(r.takeFrame().bytes));
    }
    return out;
}

TEST(RtuReceiver, CompleteRequestsEndAtOnceHoweverTheyArrive) {
    for (const char* text :
         {"01 03 00 00 00 0A", "01 10 00 00 00 02 04 00 01 00 02",
          "0A 06 00 00 00 0D",  // node 10, an ISMG wrapper byte inside
          "[03 03 00 00 00 01]", "[03 08 01 CC 02 62 00 01 05]", "05 08 00 00 12 34"}) {
        const Bytes req = frame(text);
        for (size_t chunk : {size_t{1}, size_t{3}, req.size()}) {
            // Piece n arrives at 1000 + n: well within the silence.
            sim::RtuReceiver r(Silence);
            for (size_t at = 0; at < req.size(); at += chunk) {
                r.feed(req.data() + at, std::min(chunk, req.size() - at), 1000 + at / chunk);
            }
            ASSERT_TRUE(r.hasFrame()) << text << " in pieces of " << chunk;
            const sim::ReceivedFrame f = r.takeFrame();
            EXPECT_EQ(toHex(f.bytes), toHex(req));
            EXPECT_EQ(f.firstByteUs, 1000u);
            EXPECT_EQ(f.lastByteUs, 1000 + (req.size() - 1) / chunk);
        }
    }
    // Two requests in one burst are two frames.
    sim::RtuReceiver r(Silence);
    const Bytes first = frame("01 03 00 00 00 01"), second = frame("[03 06 00 0E 00 05]");
    Bytes burst = first;
    burst.insert(burst.end(), second.begin(), second.end());
    r.feed(burst.data(), burst.size(), 1000);
    EXPECT_EQ(drain(r), (std::vector<std::string>{toHex(first), toHex(second)}));
}

TEST(RtuReceiver, OtherBytesEndWithTheSilence) {
    sim::RtuReceiver r(Silence);
    const Bytes unknown = frame("01 41 00");               // unknown function: any length
    const Bytes noise = hexBytes("01 03 00 00 00 0A C5");  // CRC cut off
    r.feed(noise.data(), noise.size(), 1000);
    EXPECT_EQ(*r.deadline(), 1000 + Silence);
    r.poll(1000 + Silence - 1);
    EXPECT_FALSE(r.hasFrame());
    r.poll(1000 + Silence);
    EXPECT_EQ(drain(r), std::vector<std::string>{toHex(noise)});
    EXPECT_FALSE(r.deadline());

    // Bytes after a silence start a new frame even without a poll in between.
    r.feed(noise.data(), 3, 20000);
    r.feed(unknown.data(), unknown.size(), 20000 + Silence);
    EXPECT_EQ(drain(r), (std::vector<std::string>{"01 03 00", toHex(unknown)}));
}

}  // namespace
