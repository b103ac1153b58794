#pragma once
// A fuzzer's input, read from front to back. Past the end every read yields zeros or nothing, so
// that every input, however short, is a valid run.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace qarnfuzz {

struct FuzzInput {
    const uint8_t* data;
    size_t size;
    size_t pos = 0;

    bool empty() const { return pos >= size; }
    uint8_t byte() { return empty() ? 0 : data[pos++]; }
    // Up to `n` bytes: fewer when the input ends first.
    std::vector<uint8_t> bytes(size_t n) {
        const size_t from = pos;
        pos += n < size - pos ? n : size - pos;
        return std::vector<uint8_t>(data + from, data + pos);
    }
    std::vector<uint8_t> chunk() { return bytes(byte()); }  // a length byte, then that many
    // The text up to the next line feed (consumed) or the end, cut at a NUL as C code sees it.
    std::string line() {
        std::string out;
        for (char c = 0; !empty() && (c = static_cast<char>(byte())) != '\n';) {
            out += c;
        }
        return out.substr(0, out.find('\0'));
    }
};

}  // namespace qarnfuzz

// A broken property ends the run as a crash does; `detail` is evaluated only then.
#define FUZZ_CHECK(condition, detail)                                                              \
    ((condition) ? void()                                                                          \
                 : (std::fprintf(stderr, "%s:%d: property broken: %s\n  %s\n", __FILE__, __LINE__, \
                                 #condition, std::string(detail).c_str()),                         \
                    std::abort()))
