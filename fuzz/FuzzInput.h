#pragma once
// A fuzzer's input, read from front to back. Past the end every read yields zeros or nothing, so
// that every input, however short, is a valid run.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace qarnfuzz {

class FuzzInput {
  public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }
    uint8_t byte() { return empty() ? 0 : data_[pos_++]; }
    // Up to `n` bytes: fewer when the input ends first.
    std::vector<uint8_t> bytes(size_t n) {
        const size_t from = pos_;
        pos_ += n < size_ - pos_ ? n : size_ - pos_;
        return std::vector<uint8_t>(data_ + from, data_ + pos_);
    }
    // A length byte, then that many bytes.
    std::vector<uint8_t> chunk() { return bytes(byte()); }
    // The text up to the next line feed (consumed) or the end, cut at a NUL as C code sees it.
    std::string line() {
        std::string out;
        for (char c = 0; !empty() && (c = static_cast<char>(byte())) != '\n';) {
            out += c;
        }
        return out.substr(0, out.find('\0'));
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// A broken property ends the run as a crash does: libFuzzer keeps the input, the replay fails.
[[noreturn]] inline void checkFailed(const char* file, int line, const char* condition,
                                     const std::string& detail) {
    std::fprintf(stderr, "%s:%d: property broken: %s\n  %s\n", file, line, condition,
                 detail.c_str());
    std::abort();
}

}  // namespace qarnfuzz

// `detail` is evaluated only when the property is broken.
#define FUZZ_CHECK(condition, detail) \
    ((condition) ? void() : qarnfuzz::checkFailed(__FILE__, __LINE__, #condition, (detail)))
