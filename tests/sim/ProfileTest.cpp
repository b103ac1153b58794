// Profile text, the built-in device models and their live values.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include <qarn/sim/Device.h>
#include <qarn/sim/Profile.h>
#include "TestBytes.h"

namespace {

using sim::Area;

// Register `item` of an area and the next one as a signed 32-bit value, high word first.
int32_t int32At(const sim::Device& d, Area area, uint16_t item) {
    return static_cast<int32_t>((uint32_t{d.map().get(area, item)} << 16) |
                                d.map().get(area, static_cast<uint16_t>(item + 1)));
}

TEST(ProfileText, RejectsBadStatementsWithSourceAndLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"hreg 400001 int16 -32769", "value -32769 out of range for int16"},
        {"coil 1 uint16 1", "type uint16 does not fit the coil area"},
        {"hreg 465536 uint32 0", "range 465536 does not hold whole uint32 values"},
        {"hreg 500001 1", "address 500001 is outside the hreg area"},
        {"hreg 400005..400001 0", "range 400005..400001 ends before it starts"},
        {"hreg 400001 1 rw", "unknown option 'rw'"},
        {"coil 1 0 rate 1", "live values need a register type and a number"},
        {"framing tcp", "framing must be rtu or ismg"},
        {"holding 400001 1", "unknown statement 'holding'"},
    };
    for (const auto& [line, message] : cases) {
        try {
            sim::parseProfile("# header\n\ncoil 1 0\n" + std::string(line) + "\n", "dev.prof");
            ADD_FAILURE() << "accepted: " << line;
        } catch (const sim::ProfileError& e) {
            EXPECT_EQ(std::string(e.what()), std::string("dev.prof:4: ") + message);
        }
    }
    EXPECT_THROW(sim::parseProfile("# nothing\nframing ismg\n", "empty"), sim::ProfileError);
}

TEST(ProfileText, LoadsFilesAndRefusesUnknownNames) {
    const std::string path = ::testing::TempDir() + "sim_profile_test.prof";
    std::ofstream(path) << "hreg 400001..400004 9  # four registers of 9\nframing ismg\n";
    const sim::Profile p = sim::loadProfile(path);
    std::remove(path.c_str());
    EXPECT_TRUE(p.ismgFraming);
    const sim::Device d(p, 1);
    EXPECT_EQ(d.map().get(Area::HoldingRegisters, 3), 9);
    EXPECT_FALSE(d.map().present(Area::HoldingRegisters, 3, 2));
    EXPECT_THROW(sim::loadProfile(path), sim::ProfileError);
    EXPECT_THROW(sim::loadProfile("EM99"), sim::ProfileError);
}

TEST(BuiltinProfiles, EveryModelLoadsWithItsAreasFramingAndModelCode) {
    const struct {
        const char *name, *canonical;
        bool ismg, inputRegisters;
        uint16_t modelCodeItem, modelCode, lastRegister;  // of the first holding register block
    } cases[] = {
        {"em24", "EM24", false, true, 256, 24, 39},
        {"WM40", "WM40", false, true, 256, 40, 55},
        {"ISMG1xx", "ISMG1xx", true, false, 0, 100, 51},
        {"ISMG3xx", "ISMG3xx", true, false, 0, 300, 83},
        {"generic", "GenericModbus", false, true, 0, 0, 65535},
    };
    for (const auto& c : cases) {
        const sim::Profile p = sim::loadProfile(c.name);
        EXPECT_EQ(p.name, c.canonical);
        EXPECT_EQ(p.ismgFraming, c.ismg) << c.name;
        const sim::Device d(p, 1);
        const bool generic = c.lastRegister == 65535;  // the only one with bits
        EXPECT_EQ(d.map().hasArea(Area::Coils), generic) << c.name;
        EXPECT_EQ(d.map().hasArea(Area::InputRegisters), c.inputRegisters) << c.name;
        EXPECT_EQ(d.map().get(Area::HoldingRegisters, c.modelCodeItem), c.modelCode) << c.name;
        EXPECT_TRUE(d.map().present(Area::HoldingRegisters, 0, c.lastRegister + 1u)) << c.name;
        EXPECT_FALSE(d.map().present(Area::HoldingRegisters, c.lastRegister + 1u, 1)) << c.name;
    }
}

TEST(LiveValues, MetersShowPlausibleValuesThatDependOnSeedAndTimeOnly) {
    const sim::Profile em24 = sim::loadProfile("EM24");
    sim::Device meter(em24, 5), twin(em24, 5), other(em24, 6);
    twin.update(5000);  // another moment seen first: no effect
    const int32_t firstVoltage = int32At(meter, Area::InputRegisters, 0);
    int32_t energy = 0;
    bool voltageChanged = false, seedMatters = false;
    for (uint64_t t = 0; t <= 3600 * 1000; t += 60 * 1000) {
        for (sim::Device* d : {&meter, &twin, &other}) {
            d->update(t);
        }
        for (uint16_t item : {0, 2, 4}) {
            const int32_t v = int32At(meter, Area::InputRegisters, item);
            EXPECT_TRUE(v >= 2250 && v <= 2350) << v;
            voltageChanged = voltageChanged || v != firstVoltage;
        }
        const int32_t current = int32At(meter, Area::InputRegisters, 12);
        EXPECT_TRUE(current > 0 && current < 20000) << current;
        EXPECT_GE(int32At(meter, Area::InputRegisters, 32), energy);
        energy = int32At(meter, Area::InputRegisters, 32);
        for (uint16_t item = 0; item < 40; ++item) {
            const uint16_t v = meter.map().get(Area::InputRegisters, item);
            ASSERT_EQ(meter.map().get(Area::HoldingRegisters, item), v) << item << " at " << t;
            ASSERT_EQ(twin.map().get(Area::InputRegisters, item), v) << item << " at " << t;
            seedMatters = seedMatters || other.map().get(Area::InputRegisters, item) != v;
        }
    }
    EXPECT_TRUE(voltageChanged);
    EXPECT_TRUE(seedMatters);
    EXPECT_NEAR(energy, 1234567 + 0.15 * 3600, 1);
}

TEST(LiveValues, CountersWrapAndWrittenRegistersStopFollowingTime) {
    sim::Device d(sim::parseProfile("hreg 400001 uint16 100 rate 1\n"
                                    "hreg 400002 uint16 65530 rate 1\n"
                                    "hreg 400003 int32 -1 rate -2\n",
                                    "live"),
                  1);
    d.update(10000);
    EXPECT_EQ(d.map().get(Area::HoldingRegisters, 0), 110);
    EXPECT_EQ(d.map().get(Area::HoldingRegisters, 1), 4);
    EXPECT_EQ(int32At(d, Area::HoldingRegisters, 2), -21);
    const Bytes write = frame("01 06 00 00 00 05");
    EXPECT_EQ(d.serve(write.data(), write.size()), write);
    d.update(20000);
    EXPECT_EQ(d.map().get(Area::HoldingRegisters, 0), 5);
    EXPECT_EQ(d.map().get(Area::HoldingRegisters, 1), 14);
}

}  // namespace
