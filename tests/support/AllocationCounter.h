#pragma once
// Counts heap allocations: replaces every form of operator new and delete (the sanitizer runtime
// would serve any left out), none inlined lest GCC pair malloc or free with a call. One source
// only.

#include <cstdlib>
#include <new>

namespace qarntest {

inline long allocationCount = 0;
inline void* counted(std::size_t size, bool mayThrow) {
    ++allocationCount;
    void* p = std::malloc(size != 0 ? size : 1);
    return p != nullptr || !mayThrow ? p : throw std::bad_alloc();
}
template <typename Body>
long allocationsOf(Body body) {  // the allocations made while `body` runs
    const long before = allocationCount;
    body();
    return allocationCount - before;
}

}  // namespace qarntest

[[gnu::noinline]] void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    return qarntest::counted(n, false);
}
[[gnu::noinline]] void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    return qarntest::counted(n, false);
}
// clang-format off
[[gnu::noinline]] void* operator new(std::size_t n) { return qarntest::counted(n, true); }
[[gnu::noinline]] void* operator new[](std::size_t n) { return qarntest::counted(n, true); }
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete[](void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
// clang-format on
