// Reads, writes and their error paths allocate nothing for ordinary tags. Counts every operator
// new of this test program while a test has counting switched on.

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "TestDriver.h"

namespace {

bool counting = false;
int allocations = 0;

void* allocate(std::size_t size) {
    if (counting) {
        ++allocations;
    }
    void* p = std::malloc(size != 0 ? size : 1);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}

void* allocateNoThrow(std::size_t size) noexcept {
    if (counting) {
        ++allocations;
    }
    return std::malloc(size != 0 ? size : 1);
}

// Allocations made while `body` runs.
template <typename F>
int allocationsOf(F body) {
    allocations = 0;
    counting = true;
    body();
    counting = false;
    return allocations;
}

}  // namespace

void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocateNoThrow(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocateNoThrow(size);
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
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

TEST(Allocation, OrdinaryReadsWritesAndErrorsStayOffTheHeap) {
    TestDriver driver;
    const ITag* scalar = driver.CreateTag("0?int(swap2,neg)");
    const ITag* block = driver.CreateTag("0?unsignedShort-32(swap2)");  // 64 bytes
    const ITag* bits = driver.CreateTag("0.5?boolean-60(inv)");
    const ITag* badConversion = driver.CreateTag("0?int(nosuchconversion)");
    const ITag* array = driver.CreateTag("0?short-32");
    ASSERT_TRUE(scalar && block && bits && badConversion && array);
    uint8_t value[256] = {};

    EXPECT_EQ(allocationsOf([&] {
                  EXPECT_TRUE(driver.Read(scalar, value));
                  EXPECT_TRUE(driver.Write(scalar, value));
                  EXPECT_TRUE(driver.Read(block, value));
                  EXPECT_TRUE(driver.Write(block, value));
                  EXPECT_TRUE(driver.Read(bits, value));
                  EXPECT_TRUE(driver.Write(bits, value));
                  EXPECT_TRUE(driver.readArrayItem(array, 31, value));
                  EXPECT_FALSE(driver.Read(badConversion, value));
                  EXPECT_FALSE(driver.Write(badConversion, value));
                  driver.failRead = true;
                  EXPECT_FALSE(driver.Read(scalar, value));
                  EXPECT_FALSE(driver.readArrayItem(scalar, 0, value));
                  EXPECT_FALSE(driver.readArrayItem(array, 32, value));
                  EXPECT_FALSE(driver.WriteBlock(scalar, value, 4));
              }),
              0);
    EXPECT_STREQ(static_cast<const TagBase*>(badConversion)->getErrorText().c_str(),
                 "Conversion error at: nosuchconversion");
    EXPECT_STREQ(driver.GetLastErrorString(), "Optimized writing not supported");

    // Above the local buffers the heap is used once per buffer, and given back.
    driver.failRead = false;
    const ITag* big = driver.CreateTag("0?unsignedByte-65");
    EXPECT_EQ(allocationsOf([&] { EXPECT_TRUE(driver.Read(big, value)); }), 1);
    const ITag* bigArray = driver.CreateTag("0?short-129");
    EXPECT_EQ(allocationsOf([&] { EXPECT_TRUE(driver.readArrayItem(bigArray, 0, value)); }), 3);
}
