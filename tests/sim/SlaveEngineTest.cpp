// The engine frame in, frame out: every function code and exception, silence, broadcasts, the
// ISMG wrapper and slave-address frame, injected faults.

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <numeric>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include <qarn/rtu/Crc.h>
#include <qarn/rtu/Frame.h>
#include <qarn/sim/SlaveEngine.h>
#include "TestBytes.h"

namespace {

// Node 1: values of every encoding in every address form; node 2: holding registers only;
// node 3: an ISMG device; node 4: generic, for broadcasts.
const char* const KnownValues =
    "coil 1..16 0\ncoil 000003 1\ncoil 10 1\ncoil 16 0 ro\ninput 100001..100010 index\n"
    "hreg 400001..400010 0\nhreg 400001 uint16 0x1234\nhreg 400003 uint32 0x89ABCDEF\n"
    "hreg 400005 int16 -2\nhreg 400006 float32 1.5\nhreg 8 uint32 0x01020304 lsw\n"
    "hreg 400010 7 ro\nireg 300001..300004 index\nireg 365536 int16 -7\n";

class SlaveEngineTest : public ::testing::Test {
  protected:
    SlaveEngineTest() : engine(42) {
        engine.addDevice(1, sim::parseProfile(KnownValues, "known"));
        engine.addDevice(2, sim::parseProfile("hreg 1..4 0\n", "regs"));
        engine.addDevice(3, sim::loadProfile("ISMG1xx"));
        engine.addDevice(4, sim::loadProfile("generic"));
    }

    // A fresh engine with only the generic device at node 4, under `faults`.
    void restart(uint64_t seed, const sim::FaultConfig& faults) {
        engine = sim::SlaveEngine(seed);
        engine.addDevice(4, sim::loadProfile("generic"));
        engine.setFaults(faults);
    }
    // The answer without CRC, in brackets when wrapped, with its delay; "silent" for none, "bad"
    // for a bad CRC.
    std::string ask(const Bytes& request) {
        const auto r = engine.process(request.data(), request.size(), 0);
        if (!r) {
            return "silent";
        }
        const rtu::FrameView v = rtu::unwrap(r->bytes.data(), r->bytes.size());
        if (!rtu::crcOk(v.data, v.length)) {
            return "bad";
        }
        const std::string text = toHex({v.data, v.data + v.length - 2});
        const std::string late = r->delayMs ? " +" + std::to_string(r->delayMs) + " ms" : "";
        return (v.wrapped ? "[" + text + "]" : text) + late;
    }
    // Requests and their answers, "request > answer", as frame() and ask() write them.
    void expect(std::initializer_list<std::string> exchanges) {
        for (const std::string& e : exchanges) {
            const size_t arrow = e.find(" > ");
            EXPECT_EQ(ask(frame(e.substr(0, arrow))), e.substr(arrow + 3)) << e;
        }
    }

    sim::SlaveEngine engine;
};

TEST_F(SlaveEngineTest, EveryFunctionCodeFrameInFrameOut) {
    expect({"01 03 00 00 00 01 > 01 03 02 12 34",
            "01 03 00 02 00 02 > 01 03 04 89 AB CD EF",  // uint32, high word first
            "01 03 00 05 00 02 > 01 03 04 3F C0 00 00",  // float32 1.5
            "01 03 00 07 00 02 > 01 03 04 03 04 01 02",  // uint32, low word first
            "01 03 00 09 00 01 > 01 03 02 00 07",        // read-only is still readable
            "01 01 00 00 00 10 > 01 01 02 04 02",        // coils 3 and 10
            "01 01 00 01 00 09 > 01 01 02 02 01",        // the same from coil 2
            "01 02 00 00 00 0A > 01 02 02 AA 02",        // odd items set
            "01 04 00 01 00 03 > 01 04 06 00 01 00 02 00 03",
            "01 04 FF FF 00 01 > 01 04 02 FF F9",  // last item of the address space
            // Writes answer with their echo (16: its header) and read back.
            "01 06 00 00 AB CD > 01 06 00 00 AB CD", "01 05 00 04 FF 00 > 01 05 00 04 FF 00",
            "01 05 00 02 00 00 > 01 05 00 02 00 00",
            "01 10 00 01 00 02 04 11 22 33 44 > 01 10 00 01 00 02",
            "01 03 00 00 00 03 > 01 03 06 AB CD 11 22 33 44", "01 01 00 00 00 08 > 01 01 01 10"});
}

TEST_F(SlaveEngineTest, EveryExceptionFromTheFirstFailingCheck) {
    expect({
        // Function unknown, or an area the device does not have: 1.
        "01 07 > 01 87 01", "02 04 00 00 00 01 > 02 84 01",
        // Outside the map, partly outside, not writable, beyond 65535: 2.
        "01 03 00 0A 00 01 > 01 83 02", "01 03 00 09 00 02 > 01 83 02",
        "01 05 00 0F FF 00 > 01 85 02", "01 10 00 08 00 02 04 00 01 00 02 > 01 90 02",
        "04 03 FF FF 00 02 > 04 83 02",
        // Bad quantity, byte count, coil value or frame length: 3, checked before the address.
        "01 03 00 64 00 00 > 01 83 03", "01 03 00 64 00 7E > 01 83 03",
        "01 01 00 00 07 D1 > 01 81 03", "01 05 00 00 12 34 > 01 85 03",
        "01 10 00 00 00 02 03 00 01 00 02 > 01 90 03", "01 10 00 00 00 02 04 00 01 00 > 01 90 03",
        "01 10 00 00 00 7C F8 > 01 90 03", "01 03 00 00 00 01 00 > 01 83 03",
        "01 03 00 08 00 02 > 01 03 04 01 02 00 07"  // the refused writes changed nothing
    });
}

TEST_F(SlaveEngineTest, BroadcastWritesReachTheDevicesOfTheirFramingAndOthersStaySilent) {
    expect({
        "00 06 00 01 00 2A > silent", "00 10 00 02 00 01 02 00 2B > silent",
        "00 05 00 00 FF 00 > silent", "02 03 00 01 00 02 > 02 03 04 00 2A 00 2B",
        "04 03 00 01 00 02 > 04 03 04 00 2A 00 2B", "04 01 00 00 00 01 > 04 01 01 01",
        "[03 03 00 01 00 01] > [03 03 02 00 01]",  // read-only status, untouched
        "[00 06 00 0E 00 05] > silent", "[03 03 00 0E 00 01] > [03 03 02 00 05]",
        "04 03 00 0E 00 01 > 04 03 02 00 00",
        "09 03 00 00 00 01 > silent",    // no device at node 9
        "00 03 00 00 00 01 > silent",    // a read cannot be broadcast
        "03 03 00 00 00 01 > silent",    // ISMG device addressed without its wrapper
        "[01 03 00 00 00 01] > silent",  // plain device addressed with it
        "01 > silent"                    // too short for a frame
    });
    EXPECT_EQ(ask(withBrokenCrc(frame("01 03 00 00 00 01"))), "silent");
    EXPECT_EQ(engine.stats().ignored, 5u);
    EXPECT_EQ(engine.stats().broadcasts, 5u);
}

TEST_F(SlaveEngineTest, IsmgWrapperAndSlaveAddressFrame) {
    expect({"[03 03 00 00 00 02] > [03 03 04 00 64 00 01]", "[03 04 00 00 00 01] > [03 84 01]",
            "[03 08 00 00 12 34] > [03 88 01]",  // other diagnostics
            // Echoed from the old address; the device then listens at the new one.
            "[03 08 01 CC 02 62 00 01 05] > [03 08 01 CC 02 62 00 01 05]",
            "[03 03 00 00 00 01] > silent", "[05 03 00 00 00 01] > [05 03 02 00 64]",
            // Taken by another device, broadcast or beyond 247: refused, the device stays.
            "[05 08 01 CC 02 62 00 01 01] > [05 88 03]",
            "[05 08 01 CC 02 62 00 01 00] > [05 88 03]",
            "[05 08 01 CC 02 62 00 01 F8] > [05 88 03]", "[05 03 00 00 00 01] > [05 03 02 00 64]",
            // Not for plain devices, and not unwrapped.
            "04 08 01 CC 02 62 00 01 09 > 04 88 01", "05 08 01 CC 02 62 00 01 09 > silent",
            // Broadcast, it moves the only ISMG device on the line...
            "[00 08 01 CC 02 62 00 01 07] > silent", "[07 03 00 00 00 01] > [07 03 02 00 64]"});
    // ... and none of two.
    engine.addDevice(8, sim::loadProfile("ISMG3xx"));
    expect({"[00 08 01 CC 02 62 00 01 09] > silent", "[07 03 00 00 00 01] > [07 03 02 00 64]",
            "[08 03 00 00 00 01] > [08 03 02 01 2C]"});
    for (const uint8_t node : {0, 248, 8}) {
        EXPECT_THROW(engine.addDevice(node, sim::loadProfile("generic")), std::invalid_argument);
    }
}

TEST_F(SlaveEngineTest, EveryNthRequestOfItsNodeGetsItsFaultWhichChangesOnlyWhatItShould) {
    // Node 4 is covered, node 2 is not: every other request of node 4 is faulted, node 2's
    // requests between them neither count nor change. Unscoped faults: the e2e poll tests.
    const struct {
        sim::Fault fault;
        const char* answer;  // to the second write to node 4
        const char* value;   // written by it, if it was applied
    } cases[] = {
        {sim::Fault::Drop, "silent", "00 01"},
        {sim::Fault::BadCrc, "bad", "00 02"},
        {sim::Fault::WrongNode, "05 06 00 00 00 02 +30 ms", "00 02"},
        {sim::Fault::Exception, "04 86 06 +30 ms", "00 01"},
        {sim::Fault::Delay, "04 06 00 00 00 02 +280 ms", "00 02"},
    };
    for (const auto& c : cases) {
        sim::FaultConfig config;
        config.rule(c.fault).every = 2;
        config.delayMs = 250;
        config.latencyMs = 30;
        config.exceptionCode = 6;
        config.nodes = {4};
        restart(42, config);
        engine.addDevice(2, sim::parseProfile("hreg 1..4 0\n", "regs"));
        const std::string other = "02 03 00 00 00 01 > 02 03 02 00 00";
        expect({other, "04 06 00 00 00 01 > 04 06 00 00 00 01 +30 ms", other,
                "04 06 00 00 00 02 > " + std::string(c.answer), other,
                "04 03 00 00 00 01 > 04 03 02 " + std::string(c.value) + " +30 ms"});
        EXPECT_EQ(engine.stats().faults[static_cast<size_t>(c.fault)], 1u);
    }
}

TEST_F(SlaveEngineTest, FaultProbabilitiesAreReproducibleForASeed) {
    // Drops in 1000 reads from a fresh engine.
    const auto drops = [this](uint64_t seed) {
        sim::FaultConfig faults;
        faults.rule(sim::Fault::Drop).probability = 0.3;
        restart(seed, faults);
        std::string s;
        for (int i = 0; i < 1000; ++i) {
            s += ask(frame("04 03 00 00 00 01")) == "silent" ? 'D' : '.';
        }
        return s;
    };
    const std::string first = drops(11);
    const auto dropped = std::count(first.begin(), first.end(), 'D');
    EXPECT_TRUE(dropped > 240 && dropped < 360) << dropped;
    EXPECT_EQ(drops(11), first);
    EXPECT_NE(drops(12), first);
}

TEST_F(SlaveEngineTest, JitterIsReproducibleWithinItsBoundsAndMovesNoFault) {
    // The extra wait of 2000 answers from a fresh engine; -1 for a dropped request.
    const auto extras = [this](uint64_t seed, uint32_t jitterMs, sim::Jitter jitter) {
        sim::FaultConfig config;
        config.rule(sim::Fault::Drop).probability = 0.2;
        config.latencyMs = 10;
        config.jitterMs = jitterMs;
        config.jitter = jitter;
        restart(seed, config);
        std::vector<int64_t> ms;
        const Bytes request = frame("04 03 00 00 00 01");
        for (int i = 0; i < 2000; ++i) {
            const auto r = engine.process(request.data(), request.size(), 0);
            ms.push_back(r ? int64_t{r->delayMs} - 10 : -1);
        }
        return ms;
    };
    const std::vector<int64_t> steady = extras(7, 0, sim::Jitter::Uniform);
    // Uniform over 0..40, or exponential with mean 40 and cut at 320.
    for (const auto& [jitter, most, mean] : {std::tuple(sim::Jitter::Uniform, 40, 20.0),
                                             std::tuple(sim::Jitter::Exponential, 320, 40.0)}) {
        SCOPED_TRACE(sim::jitterName(jitter));
        const std::vector<int64_t> ms = extras(7, 40, jitter);
        EXPECT_EQ(extras(7, 40, jitter), ms);
        EXPECT_NE(extras(8, 40, jitter), ms);
        std::vector<int64_t> answered;
        for (size_t i = 0; i < ms.size(); ++i) {
            ASSERT_EQ(ms[i] < 0, steady[i] < 0) << "request " << i << ": jitter moved a drop";
            if (ms[i] >= 0) {
                answered.push_back(ms[i]);
            }
        }
        const auto [least, largest] = std::minmax_element(answered.begin(), answered.end());
        EXPECT_EQ(*least, 0);
        EXPECT_LE(*largest, most);
        EXPECT_GE(*largest, mean * 2);
        const double sum = std::accumulate(answered.begin(), answered.end(), 0.0);
        EXPECT_NEAR(sum / static_cast<double>(answered.size()), mean, mean * 0.12);
    }
}

}  // namespace
