// An independent Modbus master (libmodbus) against the simulator on a pty: the frames we
// build and split must be the ones another implementation expects.

#include <gtest/gtest.h>
#include <modbus.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "PtyServer.h"

namespace {

class ModbusPeerTest : public ::testing::Test {
  protected:
    ModbusPeerTest() : engine(8) {
        engine.addDevice(1, sim::loadProfile("generic"));
        engine.addDevice(2, sim::loadProfile("EM24"));
        server = std::make_unique<simtest::PtyServer>(
            engine, sim::LineSettings{38400, sim::Parity::Even, 1, true});
        server->start();
        ctx = modbus_new_rtu(server->path().c_str(), 38400, 'E', 8, 1);
    }
    ~ModbusPeerTest() override {
        if (ctx != nullptr) {
            modbus_close(ctx);
            modbus_free(ctx);
        }
    }
    void SetUp() override {
        ASSERT_NE(ctx, nullptr);
        ASSERT_EQ(modbus_connect(ctx), 0) << modbus_strerror(errno);
        modbus_set_response_timeout(ctx, 0, 300000);
    }

    sim::SlaveEngine engine;
    std::unique_ptr<simtest::PtyServer> server;
    modbus_t* ctx = nullptr;
};

TEST_F(ModbusPeerTest, ReadsAndWritesEveryArea) {
    ASSERT_EQ(modbus_set_slave(ctx, 1), 0);
    const uint16_t values[] = {0x0D0A, 0xFFFF, 0x0000, 0x1234};
    ASSERT_EQ(modbus_write_registers(ctx, 100, 4, values), 4);
    ASSERT_EQ(modbus_write_register(ctx, 104, 0xBEEF), 1);
    uint16_t regs[5] = {};
    ASSERT_EQ(modbus_read_registers(ctx, 100, 5, regs), 5);
    EXPECT_EQ(std::vector<uint16_t>(regs, regs + 5),
              (std::vector<uint16_t>{0x0D0A, 0xFFFF, 0x0000, 0x1234, 0xBEEF}));

    ASSERT_EQ(modbus_write_bit(ctx, 9, 1), 1);
    uint8_t bits[12] = {};
    ASSERT_EQ(modbus_read_bits(ctx, 0, 12, bits), 12);
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(bits[i], i == 9 ? 1 : 0) << "coil " << i;
    }
    ASSERT_EQ(modbus_read_input_bits(ctx, 1000, 4, bits), 4);
    EXPECT_EQ(std::vector<uint8_t>(bits, bits + 4), (std::vector<uint8_t>{0, 1, 0, 1}));
    ASSERT_EQ(modbus_read_input_registers(ctx, 65533, 3, regs), 3);
    EXPECT_EQ(std::vector<uint16_t>(regs, regs + 3), (std::vector<uint16_t>{65533, 65534, 65535}));
}

TEST_F(ModbusPeerTest, ExceptionsSilenceAndBroadcast) {
    ASSERT_EQ(modbus_set_slave(ctx, 2), 0);
    uint16_t regs[2] = {};
    ASSERT_EQ(modbus_read_input_registers(ctx, 0, 2, regs), 2);
    const int32_t volts = static_cast<int32_t>((uint32_t{regs[0]} << 16) | regs[1]);
    EXPECT_GT(volts, 2200);
    EXPECT_LT(volts, 2400);

    EXPECT_EQ(modbus_read_registers(ctx, 200, 1, regs), -1);
    EXPECT_EQ(errno, EMBXILADD);
    EXPECT_EQ(modbus_write_register(ctx, 0, 1), -1);  // a measurement is read-only
    EXPECT_EQ(errno, EMBXILADD);
    EXPECT_EQ(modbus_write_bit(ctx, 0, 1), -1);  // a meter has no coils
    EXPECT_EQ(errno, EMBXILFUN);

    ASSERT_EQ(modbus_set_slave(ctx, 9), 0);
    EXPECT_EQ(modbus_read_registers(ctx, 0, 1, regs), -1);
    EXPECT_EQ(errno, ETIMEDOUT);

    ASSERT_EQ(modbus_set_slave(ctx, MODBUS_BROADCAST_ADDRESS), 0);
    // This libmodbus waits for an answer to a broadcast too; none must come.
    EXPECT_EQ(modbus_write_register(ctx, 7, 77), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    ASSERT_EQ(modbus_set_slave(ctx, 1), 0);
    ASSERT_EQ(modbus_read_registers(ctx, 7, 1, regs), 1);
    EXPECT_EQ(regs[0], 77);
}

}  // namespace
