// Counts heap allocations: once an instance and its tags are built, reads and writes of tags up
// to 64 bytes, failing ones included, allocate nothing. This binary replaces the global
// operator new and delete; malloc itself is left to the sanitizer.

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <new>

#include "HostServices.h"
#include "IMultiTask2.h"
#include "IPermanentStorage.h"
#include "ISerialFactory.h"
#include "ISerialPort.h"
#include "Protocol_QARN.h"
#include "ScriptedSerialPort.h"

namespace {
long allocations = 0;
void* allocate(std::size_t size) {
    ++allocations;
    return std::malloc(size != 0 ? size : 1);
}
}  // namespace

void* operator new(std::size_t size) {
    void* p = allocate(size);
    return p != nullptr ? p : throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

using qarntest::Bytes;
using qarntest::hexBytes;
using qarntest::withCrc;

template <typename Interface>
class Service : public Interface {
  public:
    void* ConvertTo(const char*) override { return nullptr; }
    const char* GetImpName() const override { return "counting"; }
    int GetImpVersion() const override { return 1; }
};

// Host doubles that record nothing, so that every allocation counted is the driver's. The port
// plays answers prepared before counting starts; after them the line is silent.
class FixedPort : public Service<ISerialPort> {
  public:
    int Setup(int, int, int, int, int) override { return 1; }
    int Drain(uint8_t*, int, int) override { return 0; }
    int Send(const uint8_t*, int, int) override { return ++sends; }
    int Receive(uint8_t* buffer, int size, int, int, int* received, int) override {
        if (next == count) {
            return 0;
        }
        const Bytes& answer = answers[static_cast<size_t>(next++)];
        *received = std::min(static_cast<int>(answer.size()), size);
        std::memcpy(buffer, answer.data(), static_cast<size_t>(*received));
        return 1;
    }
    void script(const std::vector<Bytes>& frames) {
        for (size_t i = 0; i < frames.size(); ++i) {
            answers[i] = frames[i];
        }
        next = 0;
        count = static_cast<int>(frames.size());
    }
    int sends = 0;

  private:
    std::array<Bytes, 40> answers;
    int next = 0;
    int count = 0;
};

class FixedFactory : public Service<ISerialFactory> {
  public:
    ISerialPort* OpenSerial(const char*) override { return &port; }
    void CloseSerial(ISerialPort*) override {}
    FixedPort port;
};

class SilentTask : public Service<IMultiTask2> {
  public:
    void Sleep(int) override {}
};

class CountingStore : public Service<IPermanentStorage> {
  public:
    int SetValue(const char*, const char*, const char*) override { return ++writes; }
    const char* GetValue(const char*, const char*) override { return nullptr; }
    int RemoveValue(const char*, const char*) override { return ++writes; }
    int GetValueCount(const char*) override { return 0; }
    const char* GetValueName(const char*, int) override { return nullptr; }
    int writes = 0;
};

class Allocations : public ::testing::Test {
  protected:
    void SetUp() override {
        piSerialFactory = &factory;
        piMultiTask = &task;
        piPermanentStorage = &store;
        protocol = std::make_unique<Protocol_QARN>();
        ASSERT_TRUE(protocol->Config(
            "CfgVer=1 uart=com1 baudrate=9600 parity=none bits=8 stopbits=1 mode=RS-485 "
            "defNodeId=1 model=GenericModbus delay=5 Node2::defNodeId=2 "
            "Node2::presetFunction=16 Node3::defNodeId=3 Node3::model=ISMG1xx"));
        ASSERT_TRUE(protocol->Start());
    }
    void TearDown() override {
        protocol.reset();
        piSerialFactory = nullptr;
        piMultiTask = nullptr;
        piPermanentStorage = nullptr;
    }
    // Allocations made by a read (or write) of `address`, which must end as `ok` says.
    long counted(const char* address, bool write, bool ok, const uint8_t* value = nullptr) {
        ITag* tag = protocol->CreateTag(address);
        EXPECT_NE(tag, nullptr) << address;
        uint8_t buffer[64] = {};
        const long before = allocations;
        const bool result = write ? protocol->Write(tag, value != nullptr ? value : buffer)
                                  : protocol->Read(tag, buffer);
        const long made = allocations - before;
        EXPECT_EQ(result, ok) << address << ": " << protocol->GetLastErrorString();
        return made;
    }

    FixedFactory factory;
    SilentTask task;
    CountingStore store;
    std::unique_ptr<Protocol_QARN> protocol;
};

}  // namespace

TEST_F(Allocations, ReadsAllocateNothing) {
    Bytes registers = hexBytes("01 03 40");
    registers.resize(3 + 64, 0x41);
    Bytes badCrc = withCrc(hexBytes("01 03 02 12 34"));
    badCrc.back() ^= 1;
    factory.port.script({withCrc(hexBytes("01 03 02 12 34")), withCrc(registers),
                         withCrc(hexBytes("01 01 08 01 02 03 04 05 06 07 08")),
                         qarntest::ismgWrapped(withCrc(hexBytes("03 03 04 00 01 00 02"))), badCrc,
                         withCrc(hexBytes("01 83 02")), withCrc(hexBytes("01 03 04 12 34 56 78"))});
    EXPECT_EQ(counted("1?HREG?400001?unsignedShort", false, true), 0);
    EXPECT_EQ(counted("1?HREG?400001?string-64", false, true), 0);
    EXPECT_EQ(counted("1?OUTP?5?boolean-64", false, true), 0);
    EXPECT_EQ(counted("3?HREG?400001?int(swap2,neg)", false, true), 0);
    EXPECT_EQ(counted("4?NO?0?unsignedByte", false, true), 0);
    // A bad CRC then an exception, a wrong length, silence, a disabled node.
    EXPECT_EQ(counted("1?HREG?400001?unsignedShort", false, false), 0);
    EXPECT_EQ(counted("1?HREG?400001?unsignedShort", false, false), 0);
    EXPECT_EQ(counted("1?HREG?400001?unsignedShort", false, false), 0);
    EXPECT_STREQ(protocol->GetLastErrorString(), "Communication error");
    protocol->DoCommand("setid 1 255", nullptr, 0);
    EXPECT_EQ(counted("1?HREG?400001?unsignedShort", false, false), 0);
    EXPECT_STREQ(protocol->GetLastErrorString(), "Node disabled");
}

TEST_F(Allocations, WritesAllocateNothing) {
    // 63 bytes cover 32 registers: all are read first, then written one by one.
    Bytes read = hexBytes("01 03 40");
    read.resize(3 + 64, 0x00);
    std::vector<Bytes> answers = {withCrc(read)};
    for (uint8_t i = 0; i < 32; ++i) {
        answers.push_back(withCrc({0x01, 0x06, 0x00, i, 0x00, 0x00}));
    }
    factory.port.script(answers);
    EXPECT_EQ(counted("1?HREG?400001?string-63", true, true), 0);
    EXPECT_EQ(factory.port.sends, 33);

    factory.port.script(
        {withCrc(hexBytes("02 10 00 00 00 20")), withCrc(hexBytes("01 03 02 AB CD")),
         withCrc(hexBytes("01 06 00 00 00 CD")), withCrc(hexBytes("01 05 00 00 00 00")),
         withCrc(hexBytes("01 05 00 01 00 00")),
         qarntest::ismgWrapped(withCrc(hexBytes("03 08 01 CC 02 62 00 01 00"))),
         withCrc(hexBytes("01 86 02"))});
    EXPECT_EQ(counted("2?HREG?400001?string-64", true, true), 0);
    EXPECT_EQ(counted("1?HREG?400001.1?byte", true, true), 0);
    EXPECT_EQ(counted("1?OUTP?1?boolean-2", true, true), 0);
    EXPECT_EQ(counted("3?SL?1?unsignedByte", true, true), 0);
    EXPECT_EQ(counted("1?HREG?400001?unsignedShort", true, false), 0);
    const uint8_t tooLarge[2] = {0x10, 0x27};
    EXPECT_EQ(counted("1?HREG?400001?unsignedShort(bcd)", true, false, tooLarge), 0);
    EXPECT_EQ(counted("1?IREG?300001?unsignedShort", true, false), 0);

    // The first override of a node adds its table entry; later changes, stored each time,
    // allocate nothing.
    const uint8_t ids[3] = {9, 7, 200};
    ASSERT_TRUE(protocol->Write(protocol->CreateTag("7?NO?0?unsignedByte"), &ids[0]));
    EXPECT_EQ(counted("7?NO?0?unsignedByte", true, true, &ids[1]), 0);
    EXPECT_EQ(counted("7?NO?0?unsignedByte", true, true, &ids[2]), 0);
    EXPECT_EQ(store.writes, 3);
    ASSERT_TRUE(protocol->Stop());
    EXPECT_EQ(counted("1?HREG?400001?unsignedShort", true, false), 0);
}
