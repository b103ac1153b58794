#pragma once
// Scratch buffer for one call: a fixed local array for ordinary sizes, the heap only above it, so
// reads and writes of ordinary tags allocate nothing. Released when the buffer goes out of scope.

#include <cstdint>
#include <cstring>
#include <new>

template <int LocalSize>
class WorkBuffer {
  public:
    // Zero-filled. A negative size counts as 0. ok() is false when the heap had no room.
    explicit WorkBuffer(int size) noexcept : length(size > 0 ? size : 0) {
        if (length <= LocalSize) {
            ptr = local;
            std::memset(local, 0, static_cast<size_t>(length));
        } else {
            heap = new (std::nothrow) uint8_t[static_cast<size_t>(length)]();
            ptr = heap;
        }
    }
    ~WorkBuffer() { delete[] heap; }
    WorkBuffer(const WorkBuffer&) = delete;
    WorkBuffer& operator=(const WorkBuffer&) = delete;

    bool ok() const { return ptr != nullptr; }
    uint8_t* data() { return ptr; }
    int size() const { return length; }

  private:
    int length;
    uint8_t local[LocalSize];
    uint8_t* heap = nullptr;
    uint8_t* ptr = nullptr;
};
