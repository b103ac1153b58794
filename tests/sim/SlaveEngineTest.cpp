// The engine frame in, frame out: every function code, every exception, silence, broadcast,
// the ISMG wrapper and slave-address frame, several devices on one line, injected faults.

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "RtuFrame.h"
#include "SimTestSupport.h"
#include "SlaveEngine.h"

using simtest::frame;
using simtest::hex;
using simtest::ismg;

namespace {

// Node 1: known values of every encoding; node 2: holding registers only; node 3: an ISMG
// device; node 4: a second generic device for broadcasts.
const char* const KnownValues = R"(
coil 1..16 0
coil 3 1
coil 10 1
input 100001..100010 index
hreg 400001..400010 0
hreg 400001 uint16 0x1234
hreg 400003 uint32 0x89ABCDEF
hreg 400005 int16 -2
hreg 400006 float32 1.5
hreg 400008 uint32 0x01020304 lsw
hreg 400010 7 ro
ireg 300001..300004 index
)";

class SlaveEngineTest : public ::testing::Test {
  protected:
    SlaveEngineTest() : engine(42) {
        engine.addDevice(1, sim::parseProfile(KnownValues, "known"));
        engine.addDevice(2, sim::parseProfile("hreg 1..4 0\n", "regs"));
        engine.addDevice(3, sim::loadProfile("ISMG1xx"));
        engine.addDevice(4, sim::loadProfile("generic"));
    }

    // The answer as hex text without wrapper or CRC; "silent" when none; "bad" when its CRC
    // does not fit.
    std::string ask(const std::vector<uint8_t>& request, uint64_t timeMs = 0) {
        const std::optional<sim::Reply> r = engine.process(request.data(), request.size(), timeMs);
        if (!r) {
            return "silent";
        }
        std::vector<uint8_t> b = r->bytes;
        if (rtu::isIsmgWrapped(b.data(), b.size()) && !rtu::crcOk(b.data(), b.size())) {
            b = std::vector<uint8_t>(b.begin() + 1, b.end() - 1);
        }
        if (!rtu::crcOk(b.data(), b.size())) {
            return "bad";
        }
        return hex(std::vector<uint8_t>(b.begin(), b.end() - 2));
    }

    sim::SlaveEngine engine;
};

struct Case {
    const char* request;  // without CRC
    const char* answer;   // without CRC
};

TEST_F(SlaveEngineTest, ReadsEveryAreaInEveryEncoding) {
    const Case cases[] = {
        {"01 03 00 00 00 01", "01 03 02 12 34"},
        {"01 03 00 02 00 02", "01 03 04 89 AB CD EF"},  // uint32, high word first
        {"01 03 00 04 00 01", "01 03 02 FF FE"},        // int16 -2
        {"01 03 00 05 00 02", "01 03 04 3F C0 00 00"},  // float32 1.5
        {"01 03 00 07 00 02", "01 03 04 03 04 01 02"},  // uint32, low word first
        {"01 03 00 09 00 01", "01 03 02 00 07"},        // read-only is still readable
        {"01 01 00 00 00 10", "01 01 02 04 02"},        // coils 3 and 10
        {"01 01 00 02 00 01", "01 01 01 01"},
        {"01 01 00 01 00 09", "01 01 02 02 01"},  // shifted start: coils 3 and 10
        {"01 02 00 00 00 0A", "01 02 02 AA 02"},  // odd items set
        {"01 04 00 01 00 03", "01 04 06 00 01 00 02 00 03"},
        {"04 04 FF FF 00 01", "04 04 02 FF FF"},  // last item of the address space
        {"04 02 FF FF 00 01", "04 02 01 01"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ask(frame(c.request)), c.answer) << c.request;
    }
}

TEST_F(SlaveEngineTest, RefusesWithTheExceptionOfTheFirstFailingCheck) {
    const Case cases[] = {
        // Function unknown, or an area the device does not have: 1.
        {"01 07", "01 87 01"},
        {"01 2B 0E 01 00", "01 AB 01"},
        {"02 04 00 00 00 01", "02 84 01"},
        {"02 01 00 00 00 01", "02 81 01"},
        {"02 05 00 00 FF 00", "02 85 01"},
        // Outside the map, partly outside, not writable, beyond 65535: 2.
        {"01 03 00 0A 00 01", "01 83 02"},
        {"01 03 00 09 00 02", "01 83 02"},
        {"01 01 00 0F 00 02", "01 81 02"},
        {"01 06 00 09 00 01", "01 86 02"},
        {"01 06 00 64 00 01", "01 86 02"},
        {"01 10 00 08 00 02 04 00 01 00 02", "01 90 02"},
        {"04 03 FF FF 00 02", "04 83 02"},
        // Bad quantity, byte count, coil value or frame length: 3, checked before the address.
        {"01 03 00 00 00 00", "01 83 03"},
        {"01 03 00 64 00 7E", "01 83 03"},
        {"01 01 00 00 07 D1", "01 81 03"},
        {"01 05 00 00 12 34", "01 85 03"},
        {"01 10 00 00 00 02 03 00 01 00", "01 90 03"},
        {"01 10 00 00 00 7C F8", "01 90 03"},
        {"01 03 00 00 00 01 00", "01 83 03"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ask(frame(c.request)), c.answer) << c.request;
    }
    // A refused write changes nothing.
    EXPECT_EQ(ask(frame("01 03 00 08 00 02")), "01 03 04 01 02 00 07");
}

TEST_F(SlaveEngineTest, WritesAreEchoedAndReadBack) {
    EXPECT_EQ(ask(frame("01 06 00 00 AB CD")), "01 06 00 00 AB CD");
    EXPECT_EQ(ask(frame("01 05 00 04 FF 00")), "01 05 00 04 FF 00");
    EXPECT_EQ(ask(frame("01 05 00 02 00 00")), "01 05 00 02 00 00");
    EXPECT_EQ(ask(frame("01 10 00 01 00 02 04 11 22 33 44")), "01 10 00 01 00 02");
    EXPECT_EQ(ask(frame("01 03 00 00 00 03")), "01 03 06 AB CD 11 22 33 44");
    EXPECT_EQ(ask(frame("01 01 00 00 00 08")), "01 01 01 10");
}

TEST_F(SlaveEngineTest, StaysSilentForFramesNotItsOwn) {
    std::vector<uint8_t> badCrc = frame("01 03 00 00 00 01");
    badCrc.back() ^= 0x01;
    const std::vector<uint8_t> silent[] = {
        badCrc,
        frame("09 03 00 00 00 01"),  // no device at node 9
        frame("00 03 00 00 00 01"),  // a read cannot be broadcast
        frame("03 03 00 00 00 01"),  // ISMG device addressed without its wrapper
        ismg("01 03 00 00 00 01"),   // plain device addressed with it
        frame("01"),                 // too short for a frame
        {0x0A, 0x0D},
    };
    for (const auto& f : silent) {
        EXPECT_EQ(ask(f), "silent") << hex(f);
    }
    EXPECT_EQ(engine.stats().ignored, 6u);
}

TEST_F(SlaveEngineTest, BroadcastWritesReachEveryPlainDeviceWithoutAnswer) {
    EXPECT_EQ(ask(frame("00 06 00 01 00 2A")), "silent");
    EXPECT_EQ(ask(frame("00 10 00 02 00 01 02 00 2B")), "silent");
    EXPECT_EQ(ask(frame("00 05 00 00 FF 00")), "silent");
    EXPECT_EQ(ask(frame("02 03 00 01 00 02")), "02 03 04 00 2A 00 2B");
    EXPECT_EQ(ask(frame("04 03 00 01 00 02")), "04 03 04 00 2A 00 2B");
    EXPECT_EQ(ask(frame("04 01 00 00 00 01")), "04 01 01 01");
    // The ISMG device listens to wrapped broadcasts only; its register 2 is read-only.
    EXPECT_EQ(ask(ismg("03 03 00 01 00 01")), "03 03 02 00 01");
    EXPECT_EQ(ask(ismg("00 06 00 0E 00 05")), "silent");
    EXPECT_EQ(ask(ismg("03 03 00 0E 00 01")), "03 03 02 00 05");
    EXPECT_EQ(ask(frame("04 03 00 0E 00 01")), "04 03 02 00 00");
}

TEST_F(SlaveEngineTest, IsmgDeviceAnswersInsideTheWrapper) {
    const std::optional<sim::Reply> r = engine.process(ismg("03 03 00 00 00 02").data(), 10, 0);
    ASSERT_TRUE(r);
    EXPECT_EQ(hex(r->bytes), hex(ismg("03 03 04 00 64 00 01")));
    EXPECT_EQ(ask(ismg("03 04 00 00 00 01")), "03 84 01");
    EXPECT_EQ(ask(ismg("03 08 00 00 12 34")), "03 88 01");  // other diagnostics
}

TEST_F(SlaveEngineTest, SlaveAddressFrameMovesTheIsmgDevice) {
    const std::vector<uint8_t> request = ismg("03 08 01 CC 02 62 00 01 05");
    const std::optional<sim::Reply> r = engine.process(request.data(), request.size(), 0);
    ASSERT_TRUE(r);
    EXPECT_EQ(hex(r->bytes), hex(request));
    EXPECT_EQ(ask(ismg("03 03 00 00 00 01")), "silent");
    EXPECT_EQ(ask(ismg("05 03 00 00 00 01")), "05 03 02 00 64");

    // Taken by another device, broadcast or beyond 247: refused, the device stays.
    EXPECT_EQ(ask(ismg("05 08 01 CC 02 62 00 01 01")), "05 88 03");
    EXPECT_EQ(ask(ismg("05 08 01 CC 02 62 00 01 00")), "05 88 03");
    EXPECT_EQ(ask(ismg("05 08 01 CC 02 62 00 01 F8")), "05 88 03");
    EXPECT_EQ(ask(ismg("05 03 00 00 00 01")), "05 03 02 00 64");
    // Not for plain devices, and not unwrapped.
    EXPECT_EQ(ask(frame("04 08 01 CC 02 62 00 01 09")), "04 88 01");
    EXPECT_EQ(ask(frame("05 08 01 CC 02 62 00 01 09")), "silent");
}

TEST_F(SlaveEngineTest, BroadcastSlaveAddressOnlyWithASingleIsmgDevice) {
    EXPECT_EQ(ask(ismg("00 08 01 CC 02 62 00 01 07")), "silent");
    EXPECT_EQ(ask(ismg("07 03 00 00 00 01")), "07 03 02 00 64");

    engine.addDevice(8, sim::loadProfile("ISMG3xx"));
    EXPECT_EQ(ask(ismg("00 08 01 CC 02 62 00 01 09")), "silent");
    EXPECT_EQ(ask(ismg("07 03 00 00 00 01")), "07 03 02 00 64");
    EXPECT_EQ(ask(ismg("08 03 00 00 00 01")), "08 03 02 01 2C");
    EXPECT_EQ(ask(ismg("09 03 00 00 00 01")), "silent");
}

TEST(SlaveEngineDevices, RejectsBadAndDuplicateNodes) {
    sim::SlaveEngine engine;
    const sim::Profile p = sim::parseProfile("hreg 1 0\n", "p");
    engine.addDevice(247, p);
    EXPECT_THROW(engine.addDevice(0, p), std::invalid_argument);
    EXPECT_THROW(engine.addDevice(248, p), std::invalid_argument);
    EXPECT_THROW(engine.addDevice(247, p), std::invalid_argument);
}

// Outcome of one read of node 1, for fault patterns: '.' answered, 'D' silent, 'C' bad CRC,
// 'N' other node, 'E' exception, 'L' late.
std::string outcomes(sim::SlaveEngine& engine, int count) {
    std::string s;
    const std::vector<uint8_t> request = frame("01 03 00 00 00 01");
    for (int i = 0; i < count; ++i) {
        const auto r = engine.process(request.data(), request.size(), 0);
        if (!r) {
            s += 'D';
        } else if (!rtu::crcOk(r->bytes.data(), r->bytes.size())) {
            s += 'C';
        } else if (r->bytes[0] != 1) {
            s += 'N';
        } else if (r->bytes[1] & 0x80) {
            s += 'E';
        } else {
            s += r->delayMs != 0 ? 'L' : '.';
        }
    }
    return s;
}

sim::SlaveEngine faultyEngine(uint64_t seed, const sim::FaultConfig& faults) {
    sim::SlaveEngine engine(seed);
    engine.addDevice(1, sim::loadProfile("generic"));
    engine.setFaults(faults);
    return engine;
}

TEST(SlaveEngineFaults, EveryNthRequestGetsItsFault) {
    const struct {
        sim::Fault fault;
        const char* pattern;
    } cases[] = {
        {sim::Fault::Drop, "..D..D"},      {sim::Fault::BadCrc, "..C..C"},
        {sim::Fault::WrongNode, "..N..N"}, {sim::Fault::Exception, "..E..E"},
        {sim::Fault::Delay, "..L..L"},
    };
    for (const auto& c : cases) {
        sim::FaultConfig config;
        config.rule(c.fault).every = 3;
        config.delayMs = 250;
        sim::SlaveEngine engine = faultyEngine(7, config);
        EXPECT_EQ(outcomes(engine, 6), c.pattern) << sim::faultName(c.fault);
        EXPECT_EQ(engine.stats().faults[static_cast<size_t>(c.fault)], 2u);
    }
}

TEST(SlaveEngineFaults, FaultyAnswersHaveTheExpectedBytes) {
    sim::FaultConfig config;
    config.rule(sim::Fault::WrongNode).every = 1;
    config.rule(sim::Fault::Exception).every = 1;
    config.rule(sim::Fault::Delay).every = 1;
    config.exceptionCode = 6;
    config.delayMs = 300;
    sim::SlaveEngine engine = faultyEngine(1, config);
    const std::vector<uint8_t> write = frame("01 06 00 00 00 63");
    const auto r = engine.process(write.data(), write.size(), 0);
    ASSERT_TRUE(r);
    EXPECT_EQ(hex(r->bytes), hex(frame("02 86 06")));
    EXPECT_EQ(r->delayMs, 300u);

    // The refused write was not applied; a dropped one is not either.
    config = sim::FaultConfig{};
    config.rule(sim::Fault::Drop).every = 2;
    engine.setFaults(config);
    const std::vector<uint8_t> read = frame("01 03 00 00 00 01");
    EXPECT_TRUE(engine.process(read.data(), read.size(), 0));
    EXPECT_FALSE(engine.process(write.data(), write.size(), 0));
    const auto value = engine.process(read.data(), read.size(), 0);
    ASSERT_TRUE(value);
    EXPECT_EQ(hex(value->bytes), hex(frame("01 03 02 00 00")));
}

TEST(SlaveEngineFaults, ProbabilitiesAreReproducibleAndIndependent) {
    sim::FaultConfig drops;
    drops.rule(sim::Fault::Drop).probability = 0.3;
    sim::SlaveEngine a = faultyEngine(11, drops);
    sim::SlaveEngine b = faultyEngine(11, drops);
    sim::SlaveEngine c = faultyEngine(12, drops);
    const std::string pattern = outcomes(a, 1000);
    EXPECT_EQ(outcomes(b, 1000), pattern);
    EXPECT_NE(outcomes(c, 1000), pattern);
    const auto dropped = std::count(pattern.begin(), pattern.end(), 'D');
    EXPECT_GT(dropped, 240);
    EXPECT_LT(dropped, 360);

    // Adding another fault leaves the drops where they were.
    sim::FaultConfig both = drops;
    both.rule(sim::Fault::BadCrc).probability = 0.5;
    sim::SlaveEngine d = faultyEngine(11, both);
    const std::string mixed = outcomes(d, 1000);
    for (size_t i = 0; i < pattern.size(); ++i) {
        ASSERT_EQ(pattern[i] == 'D', mixed[i] == 'D') << "request " << i;
    }
    const auto badCrc = std::count(mixed.begin(), mixed.end(), 'C');
    EXPECT_GT(badCrc, 250);
    // Only faults that took effect are counted: none on a dropped request.
    EXPECT_EQ(d.stats().faults[static_cast<size_t>(sim::Fault::BadCrc)],
              static_cast<uint64_t>(badCrc));
}

}  // namespace
