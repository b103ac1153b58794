#pragma once
// Reads a fuzzer's input from front to back. Past the end every read yields zeros or nothing, so
// a target never checks lengths and every input, however short, is a valid run.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qarnfuzz {

class FuzzInput {
  public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }
    size_t remaining() const { return size_ - pos_; }

    uint8_t byte() { return empty() ? 0 : data_[pos_++]; }
    // High byte first, as on the line.
    uint16_t word() {
        const uint16_t high = byte();
        return static_cast<uint16_t>((high << 8) | byte());
    }
    // A number below `n` (0 when n is 0), from one byte.
    size_t below(size_t n) { return n == 0 ? 0 : byte() % n; }
    // Up to `n` bytes: fewer when the input ends first.
    std::vector<uint8_t> bytes(size_t n) {
        const size_t take = n < remaining() ? n : remaining();
        std::vector<uint8_t> out(data_ + pos_, data_ + pos_ + take);
        pos_ += take;
        return out;
    }
    // A length byte, then that many bytes.
    std::vector<uint8_t> chunk() { return bytes(byte()); }
    // The text up to the next line feed (which is consumed, not returned) or to the end.
    std::string line() {
        std::string out;
        while (!empty()) {
            const char c = static_cast<char>(data_[pos_++]);
            if (c == '\n') {
                break;
            }
            out += c;
        }
        return out;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

}  // namespace qarnfuzz
