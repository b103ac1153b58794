// Counts heap allocations: once an instance and its tags are built, reads and writes of tags up
// to 64 bytes, failing ones included, allocate nothing.

#include "AllocationCounter.h"
#include "DriverFixture.h"

using namespace qarntest;

namespace {

class Allocations : public DriverTest {};

}  // namespace

TEST_F(Allocations, ReadsAndWritesAllocateNothing) {
    start(GenericNode +
          " delay=5 Node2::defNodeId=2 Node2::presetFunction=16 Node3::defNodeId=3 "
          "Node3::model=ISMG1xx");
    // The doubles' records must not grow while counting. The first override of a node adds its
    // table entry and its key in the store.
    port.reserve(200);
    host.multiTask().sleeps.reserve(200);
    ASSERT_TRUE(protocol->Write(tag("7?NO?0?unsignedByte"), Bytes{9}.data()));
    const std::string registers = "01 03 40" + std::string(128, 'A');  // 64 bytes of 0xAA
    std::string acks;  // 63 bytes cover 32 registers: all are read first, then written one by one
    for (int i = 0; i < 32; ++i) {
        acks += "|01 06 00 " + toHex({static_cast<uint8_t>(i)}) + " AA AA";
    }
    const char* const R = "1?HREG?400001?unsignedShort";
    const Bytes text(64, 0xAA), zeros(64, 0), read;
    const std::tuple<const char*, Bytes, std::string, const char*> accesses[] = {
        // address, value (none for a read), answers (see script()), error ("" for success)
        {R, read, "01 03 02 12 34", ""},
        {"1?HREG?400001?string-64", read, registers, ""},
        {"1?OUTP?5?boolean-64", read, "01 01 08 01 02 03 04 05 06 07 08", ""},
        {"3?HREG?400001?int(swap2,neg)", read, "[03 03 04 00 01 00 02", ""},
        {R, read, "!01 03 02 12 34|01 83 02", "Exception: Illegal data address"},
        {R, read, "01 03 04 12 34 56 78", "Incorrect data length received"},
        {R, read, "-|-|-", "Communication error"},
        {"1?HREG?400001?string-63", text, registers + acks, ""},
        {"2?HREG?400001?string-64", zeros, "02 10 00 00 00 20", ""},
        {"1?HREG?400001.1?byte", zeros, "01 03 02 AB CD|01 06 00 00 00 CD", ""},
        {"1?OUTP?1?boolean-2", zeros, "01 05 00 00 00 00|01 05 00 01 00 00", ""},
        {"3?SL?1?unsignedByte", zeros, "[03 08 01 CC 02 62 00 01 00", ""},
        {R, zeros, "01 86 02", "Exception: Illegal data address"},
        {"1?HREG?400001?unsignedShort(bcd)", {0x10, 0x27}, "", "write conversion error"},
        {"7?NO?0?unsignedByte", {7}, "", ""},  // stored
        {"7?NO?0?unsignedByte", {255}, "", ""},
        {"7?HREG?400001?unsignedShort", read, "", "Node disabled"},
    };
    for (const auto& [address, value, answers, error] : accesses) {
        const Tag_QARN* t = tag(address);
        script(answers);
        port.clearCalls();
        uint8_t buffer[64] = {};
        bool ok = false;
        // A structured binding cannot be captured in C++17: take the value by copy.
        EXPECT_EQ(allocationsOf([&, item = value] {
                      ok = item.empty() ? protocol->Read(t, buffer)
                                        : protocol->Write(t, item.data());
                  }),
                  0)
            << address;
        EXPECT_EQ(ok ? "" : protocol->GetLastErrorString(), std::string(error)) << address;
        EXPECT_EQ(port.pendingAnswers(), 0) << address;
    }
    EXPECT_STREQ(host.store().GetValue("QARN", "tempNode7"), "255");
    const Tag_QARN* stopped = tag(R);
    ASSERT_TRUE(protocol->Stop());
    EXPECT_EQ(allocationsOf([&] { EXPECT_FALSE(protocol->Write(stopped, zeros.data())); }), 0);
}
