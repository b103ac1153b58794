// How the trace describes frames: every function, exceptions, the wrapper, a bad CRC.

#include <gtest/gtest.h>

#include <qarn/refhost/FrameTrace.h>
#include "TestBytes.h"

using refhost::FrameTrace;

TEST(FrameTrace, DescribesRequestsAndAnswers) {
    Bytes badCrc = frame("01 03 02 12 34");
    badCrc[3] = 0x13;  // payload changed, CRC kept
    const std::string goodCrc = toHex(frame("01 03 02 13 34")).substr(15);
    const struct {
        Bytes frame;
        bool fromMaster;
        std::string summary;
    } cases[] = {
        {frame("11 04 00 6B 00 03"), true,
         "node 17, fn 4 read input registers, addr 107, count 3, CRC ok"},
        {frame("01 03 02 12 34"), false, "node 1, fn 3 read holding registers, 2 bytes, CRC ok"},
        {frame("01 05 00 0B FF 00"), true, "node 1, fn 5 write single coil, addr 11, ON, CRC ok"},
        {frame("01 06 00 02 12 34"), true,
         "node 1, fn 6 write single register, addr 2, value 4660, CRC ok"},
        {frame("01 10 00 05 00 02 04 00 01 00 02"), true,
         "node 1, fn 16 write multiple registers, addr 5, count 2, 4 bytes, CRC ok"},
        {frame("01 10 00 05 00 02"), false,
         "node 1, fn 16 write multiple registers, addr 5, count 2, CRC ok"},
        {frame("01 83 02"), false,
         "node 1, fn 3 read holding registers, exception 2 (illegal data address), CRC ok"},
        {frame("01 83 07"), false,
         "node 1, fn 3 read holding registers, exception 7 (unknown), CRC ok"},
        {frame("[03 08 01 CC 02 62 00 01 0A]"), true,
         "ISMG wrapper, node 3, fn 8 set slave address, new slave address 10, CRC ok"},
        {badCrc, false,
         "node 1, fn 3 read holding registers, 2 bytes, CRC bad (expected " + goodCrc + ")"},
        {hexBytes("01 03"), false, "too short for a frame"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FrameTrace::describe(c.frame.data(), c.frame.size(), c.fromMaster), c.summary)
            << toHex(c.frame);
    }
}
