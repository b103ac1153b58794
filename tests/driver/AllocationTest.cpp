// Counts heap allocations: once an instance and its tags are built, reads and writes of tags up
// to 64 bytes, failing ones included, allocate nothing. This binary replaces the global
// operator new and delete; malloc itself is left to the sanitizer.

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "HostService.h"
#include "HostServices.h"
#include "IMultiTask2.h"
#include "IPermanentStorage.h"
#include "ISerialFactory.h"
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

using namespace qarntest;

namespace {

// Host doubles that record nothing, so that every allocation counted is the driver's. The port
// plays answers prepared before counting starts; an empty answer is silence.
class FixedPort : public HostService<ISerialPort> {
  public:
    FixedPort() : HostService("ISerialPort", "counting", 1) {}
    int Setup(int, int, int, int, int) override { return 1; }
    int Drain(uint8_t*, int, int) override { return 0; }
    int Send(const uint8_t*, int, int) override { return ++sends; }
    int Receive(uint8_t* buffer, int size, int, int, int* received, int) override {
        const Bytes& answer = next < answers.size() ? answers[next++] : answers.front();
        *received = std::min(static_cast<int>(answer.size()), size);
        std::copy(answer.begin(), answer.begin() + *received, buffer);
        return *received;
    }
    std::vector<Bytes> answers{Bytes()};
    size_t next = 1;
    int sends = 0;
};

class FixedFactory : public HostService<ISerialFactory> {
  public:
    FixedFactory() : HostService("ISerialFactory", "counting", 1) {}
    ISerialPort* OpenSerial(const char*) override { return &port; }
    void CloseSerial(ISerialPort*) override {}
    FixedPort port;
};

class SilentTask : public HostService<IMultiTask2> {
  public:
    SilentTask() : HostService("IMultiTask2", "counting", 1) {}
    void Sleep(int) override {}
};

class CountingStore : public HostService<IPermanentStorage> {
  public:
    CountingStore() : HostService("IPermanentStorage", "counting", 1) {}
    int SetValue(const char*, const char*, const char*) override { return ++writes; }
    const char* GetValue(const char*, const char*) override { return nullptr; }
    int RemoveValue(const char*, const char*) override { return ++writes; }
    int GetValueCount(const char*) override { return 0; }
    const char* GetValueName(const char*, int) override { return nullptr; }
    int writes = 0;
};

Bytes frame(const char* hex, bool wrapped = false) {
    const Bytes bytes = withCrc(hexBytes(hex));
    return wrapped ? ismgWrapped(bytes) : bytes;
}

}  // namespace

TEST(Allocations, ReadsAndWritesAllocateNothing) {
    FixedFactory factory;
    SilentTask task;
    CountingStore store;
    piSerialFactory = &factory;
    piMultiTask = &task;
    piPermanentStorage = &store;
    Protocol_QARN protocol;
    ASSERT_TRUE(protocol.Config(
        "CfgVer=1 uart=com1 baudrate=9600 parity=none bits=8 stopbits=1 mode=RS-485 "
        "defNodeId=1 model=GenericModbus delay=5 Node2::defNodeId=2 Node2::presetFunction=16 "
        "Node3::defNodeId=3 Node3::model=ISMG1xx"));
    ASSERT_TRUE(protocol.Start());
    // Allocations made by a read (value null) or write of `address`; `error` is "" for success.
    const auto counted = [&protocol](const char* address, const uint8_t* value, const char* error) {
        ITag* tag = protocol.CreateTag(address);
        EXPECT_NE(tag, nullptr) << address;
        uint8_t buffer[64] = {};
        const long before = allocations;
        const bool ok = value != nullptr ? protocol.Write(tag, value) : protocol.Read(tag, buffer);
        const long made = allocations - before;
        EXPECT_EQ(ok ? "" : protocol.GetLastErrorString(), std::string(error)) << address;
        return made;
    };
    Bytes registers = hexBytes("01 03 40");
    registers.resize(3 + 64, 0x41);
    Bytes badCrc = frame("01 03 02 12 34");
    badCrc.back() ^= 1;
    std::vector<Bytes>& answers = factory.port.answers;
    answers = {frame("01 03 02 12 34"),
               withCrc(registers),
               frame("01 01 08 01 02 03 04 05 06 07 08"),
               frame("03 03 04 00 01 00 02", true),
               badCrc,
               frame("01 83 02"),
               frame("01 03 04 12 34 56 78"),
               {},
               {},
               {},
               withCrc(registers)};
    for (uint8_t i = 0; i < 32; ++i) {
        answers.push_back(withCrc({0x01, 0x06, 0x00, i, 0x41, 0x41}));
    }
    answers.insert(answers.end(),
                   {frame("02 10 00 00 00 20"), frame("01 03 02 AB CD"), frame("01 06 00 00 00 CD"),
                    frame("01 05 00 00 00 00"), frame("01 05 00 01 00 00"),
                    frame("03 08 01 CC 02 62 00 01 00", true), frame("01 86 02")});
    factory.port.next = 0;
    const uint8_t zeros[64] = {};
    uint8_t text[64];
    std::fill(text, text + 64, 0x41);
    const uint8_t tooLarge[2] = {0x10, 0x27};
    const uint8_t ids[3] = {9, 7, 255};
    const struct {
        const char* address;
        const uint8_t* value;  // null: a read
        const char* error;
    } accesses[] = {
        {"1?HREG?400001?unsignedShort", nullptr, ""},
        {"1?HREG?400001?string-64", nullptr, ""},
        {"1?OUTP?5?boolean-64", nullptr, ""},
        {"3?HREG?400001?int(swap2,neg)", nullptr, ""},
        {"4?NO?0?unsignedByte", nullptr, ""},
        // A bad CRC then an exception, a wrong length, silence.
        {"1?HREG?400001?unsignedShort", nullptr, "Exception: Illegal data address"},
        {"1?HREG?400001?unsignedShort", nullptr, "Incorrect data length received"},
        {"1?HREG?400001?unsignedShort", nullptr, "Communication error"},
        // 63 bytes cover 32 registers: all are read first, then written one by one.
        {"1?HREG?400001?string-63", text, ""},
        {"2?HREG?400001?string-64", zeros, ""},
        {"1?HREG?400001.1?byte", zeros, ""},
        {"1?OUTP?1?boolean-2", zeros, ""},
        {"3?SL?1?unsignedByte", zeros, ""},
        {"1?HREG?400001?unsignedShort", zeros, "Exception: Illegal data address"},
        {"1?HREG?400001?unsignedShort(bcd)", tooLarge, "write conversion error"},
        {"1?IREG?300001?unsignedShort", zeros, "writing to read_only type"},
        // Changes of an override after its first, each stored, and the node disabled.
        {"7?NO?0?unsignedByte", &ids[1], ""},
        {"7?NO?0?unsignedByte", &ids[2], ""},
        {"7?HREG?400001?unsignedShort", nullptr, "Node disabled"},
    };
    // The first override of a node adds its table entry.
    ASSERT_TRUE(protocol.Write(protocol.CreateTag("7?NO?0?unsignedByte"), &ids[0]));
    for (const auto& a : accesses) {
        EXPECT_EQ(counted(a.address, a.value, a.error), 0) << a.address;
    }
    EXPECT_EQ(factory.port.next, answers.size());
    EXPECT_EQ(store.writes, 3);
    ASSERT_TRUE(protocol.Stop());
    EXPECT_EQ(counted("1?HREG?400001?unsignedShort", zeros, "Protocol not started"), 0);
    piSerialFactory = nullptr;
    piMultiTask = nullptr;
    piPermanentStorage = nullptr;
}
