// Profile text, the built-in device models and their live values.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "Device.h"
#include "Profile.h"
#include "SimTestSupport.h"

namespace {

using sim::Area;

// Register `item` of an area and the next one as a signed 32-bit value, high word first.
int32_t int32At(const sim::Device& d, Area area, uint16_t item) {
    return static_cast<int32_t>((uint32_t{d.map().get(area, item)} << 16) |
                                d.map().get(area, static_cast<uint16_t>(item + 1)));
}

TEST(ProfileText, RejectsBadStatementsWithSourceAndLine) {
    const struct {
        const char* line;
        const char* message;
    } cases[] = {
        {"hreg 400001 uint16 70000", "value 70000 out of range for uint16"},
        {"hreg 400001 int16 -32769", "value -32769 out of range for int16"},
        {"coil 1 2", "value 2 out of range for bit"},
        {"hreg 400001 1.5", "value of type uint16 must be an integer"},
        {"coil 1 uint16 1", "type uint16 does not fit the coil area"},
        {"ireg 300001 bit 1", "type bit does not fit the ireg area"},
        {"hreg 400001..400003 uint32 0", "range 400001..400003 does not hold whole uint32 values"},
        {"hreg 465536 uint32 0", "range 465536 does not hold whole uint32 values"},
        {"hreg 500001 1", "address 500001 is outside the hreg area"},
        {"input 65537 1", "address 65537 is outside the input area"},
        {"hreg 0 1", "address 0 is outside the hreg area"},
        {"hreg 40x 1", "address '40x' is not a number"},
        {"hreg 400005..400001 0", "range 400005..400001 ends before it starts"},
        {"hreg", "address missing"},
        {"hreg 400001 uint16", "value missing"},
        {"hreg 400001 abc", "value 'abc' is not a number"},
        {"hreg 400001 1 rw", "unknown option 'rw'"},
        {"hreg 400001 1 lsw", "lsw needs a 32-bit type"},
        {"hreg 400001 1 rate", "rate needs a number"},
        {"hreg 400001 1 wave 5", "wave needs a number"},
        {"hreg 400001 1 wave 5 0", "wave period must be above 0 seconds"},
        {"hreg 400001 1 noise -1", "noise must not be negative"},
        {"coil 1 0 rate 1", "live values need a register type and a number"},
        {"hreg 400001 index noise 1", "live values need a register type and a number"},
        {"hreg 400001 int32 index", "index values need type bit or uint16"},
        {"framing tcp", "framing must be rtu or ismg"},
        {"holding 400001 1", "unknown statement 'holding'"},
    };
    for (const auto& c : cases) {
        const std::string text = "# header\n\ncoil 1 0\n" + std::string(c.line) + "\n";
        try {
            sim::parseProfile(text, "dev.prof");
            ADD_FAILURE() << "accepted: " << c.line;
        } catch (const sim::ProfileError& e) {
            EXPECT_EQ(std::string(e.what()), std::string("dev.prof:4: ") + c.message);
        }
    }
    EXPECT_THROW(sim::parseProfile("# nothing\nframing ismg\n", "empty"), sim::ProfileError);
}

TEST(ProfileText, AddressFormsRangesAndOverrides) {
    const sim::Profile p = sim::parseProfile(
        "hreg 400001..400004 9      # four registers of 9\n"
        "hreg 2 uint32 0x10002 lsw  # 1-based form, overrides items 1-2\n"
        "coil 000005 1\n"
        "coil 7 1 ro\n"
        "ireg 365536 3\n"
        "framing ismg\n",
        "p");
    EXPECT_TRUE(p.ismgFraming);
    const sim::Device d(p, 1);
    const std::vector<uint16_t> regs = {
        d.map().get(Area::HoldingRegisters, 0), d.map().get(Area::HoldingRegisters, 1),
        d.map().get(Area::HoldingRegisters, 2), d.map().get(Area::HoldingRegisters, 3)};
    EXPECT_EQ(regs, (std::vector<uint16_t>{9, 2, 1, 9}));
    EXPECT_FALSE(d.map().present(Area::HoldingRegisters, 3, 2));
    EXPECT_TRUE(d.map().writable(Area::Coils, 4, 1));
    EXPECT_TRUE(d.map().present(Area::Coils, 6, 1));
    EXPECT_FALSE(d.map().writable(Area::Coils, 6, 1));
    EXPECT_FALSE(d.map().present(Area::Coils, 5, 1));
    EXPECT_EQ(d.map().get(Area::InputRegisters, 65535), 3);
    EXPECT_FALSE(d.map().hasArea(Area::DiscreteInputs));
}

TEST(ProfileText, LoadsFilesAndRefusesUnknownNames) {
    const std::string path = ::testing::TempDir() + "sim_profile_test.prof";
    {
        std::ofstream out(path);
        out << "hreg 400001 int16 -7\n";
    }
    const sim::Profile p = sim::loadProfile(path);
    EXPECT_EQ(p.name, path);
    EXPECT_EQ(sim::Device(p, 1).map().get(Area::HoldingRegisters, 0), 0xFFF9);
    std::remove(path.c_str());
    EXPECT_THROW(sim::loadProfile(path), sim::ProfileError);
    EXPECT_THROW(sim::loadProfile("EM99"), sim::ProfileError);
}

TEST(BuiltinProfiles, EveryModelLoadsWithItsAreasAndFraming) {
    const struct {
        const char* name;
        const char* canonical;
        bool ismg;
        bool coils;
        bool inputRegisters;
        uint16_t modelCodeItem;
        uint16_t modelCode;
        uint16_t lastRegister;  // last holding register of the contiguous first block
    } cases[] = {
        {"EM21", "EM21", false, false, true, 256, 21, 39},
        {"em24", "EM24", false, false, true, 256, 24, 39},
        {"EM26", "EM26", false, false, true, 256, 26, 39},
        {"WM30", "WM30", false, false, true, 256, 30, 55},
        {"WM40", "WM40", false, false, true, 256, 40, 55},
        {"ISMG1xx", "ISMG1xx", true, false, false, 0, 100, 51},
        {"ISMG3xx", "ISMG3xx", true, false, false, 0, 300, 83},
        {"generic", "GenericModbus", false, true, true, 0, 0, 65535},
    };
    EXPECT_EQ(sim::builtinProfileNames().size(), std::size(cases) + 1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const sim::Profile p = sim::loadProfile(c.name);
        EXPECT_EQ(p.name, c.canonical);
        EXPECT_EQ(p.ismgFraming, c.ismg);
        const sim::Device d(p, 1);
        EXPECT_EQ(d.map().hasArea(Area::Coils), c.coils);
        EXPECT_EQ(d.map().hasArea(Area::DiscreteInputs), c.coils);
        EXPECT_EQ(d.map().hasArea(Area::InputRegisters), c.inputRegisters);
        EXPECT_EQ(d.map().get(Area::HoldingRegisters, c.modelCodeItem), c.modelCode);
        EXPECT_TRUE(d.map().present(Area::HoldingRegisters, 0, c.lastRegister + 1u));
        if (c.lastRegister < 65535) {
            EXPECT_FALSE(d.map().present(Area::HoldingRegisters, c.lastRegister + 1u, 1));
        }
    }
}

TEST(LiveValues, MetersShowPlausibleChangingValues) {
    sim::Device meter(sim::loadProfile("EM24"), 5);
    int32_t lastEnergy = 0;
    bool voltageChanged = false;
    int32_t firstVoltage = int32At(meter, Area::InputRegisters, 0);
    for (uint64_t t = 0; t <= 3600 * 1000; t += 60 * 1000) {
        meter.update(t);
        for (uint16_t item : {0, 2, 4}) {
            const int32_t v = int32At(meter, Area::InputRegisters, item);
            EXPECT_GE(v, 2250);
            EXPECT_LE(v, 2350);
            voltageChanged = voltageChanged || v != firstVoltage;
        }
        const int32_t current = int32At(meter, Area::InputRegisters, 12);
        EXPECT_GT(current, 0);
        EXPECT_LT(current, 20000);
        const int32_t energy = int32At(meter, Area::InputRegisters, 32);
        EXPECT_GE(energy, lastEnergy);
        lastEnergy = energy;
        // Holding and input registers mirror each other.
        for (uint16_t item = 0; item < 40; ++item) {
            ASSERT_EQ(meter.map().get(Area::HoldingRegisters, item),
                      meter.map().get(Area::InputRegisters, item))
                << "item " << item << " at " << t;
        }
    }
    EXPECT_TRUE(voltageChanged);
    EXPECT_NEAR(lastEnergy, 1234567 + 0.15 * 3600, 1);
}

TEST(LiveValues, DependOnSeedAndTimeOnly) {
    auto snapshot = [](sim::Device& d, uint64_t t) {
        d.update(t);
        std::vector<uint16_t> v;
        for (uint16_t i = 0; i < 56; ++i) {
            v.push_back(d.map().get(Area::HoldingRegisters, i));
        }
        return v;
    };
    const sim::Profile wm = sim::loadProfile("WM40");
    sim::Device a(wm, 99), b(wm, 99), c(wm, 100);
    snapshot(a, 5000);  // a has seen another moment first: no effect
    EXPECT_EQ(snapshot(a, 77777), snapshot(b, 77777));
    EXPECT_NE(snapshot(a, 77777), snapshot(c, 77777));
    EXPECT_NE(snapshot(a, 77777), snapshot(a, 137777));
}

TEST(LiveValues, WrittenRegistersStopFollowingTime) {
    const sim::Profile p = sim::parseProfile(
        "hreg 400001 uint16 100 rate 1\n"
        "hreg 400002 uint16 65530 rate 1\n"
        "hreg 400003 int32 -1 rate -2\n",
        "live");
    sim::Device d(p, 1);
    d.update(10000);
    EXPECT_EQ(d.map().get(Area::HoldingRegisters, 0), 110);
    EXPECT_EQ(d.map().get(Area::HoldingRegisters, 1), 4);  // wraps like a counter
    EXPECT_EQ(int32At(d, Area::HoldingRegisters, 2), -21);

    const std::vector<uint8_t> write = simtest::frame("01 06 00 00 00 05");
    EXPECT_EQ(d.serve(write.data(), write.size()), write);
    d.update(20000);
    EXPECT_EQ(d.map().get(Area::HoldingRegisters, 0), 5);
    EXPECT_EQ(d.map().get(Area::HoldingRegisters, 1), 14);
}

}  // namespace
