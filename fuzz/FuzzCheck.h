#pragma once
// A broken property ends the run the way a crash does, so libFuzzer keeps the input and the
// replayer fails its test.

#include <cstdio>
#include <cstdlib>
#include <string>

namespace qarnfuzz {

[[noreturn]] inline void checkFailed(const char* file, int line, const char* condition,
                                     const std::string& detail) {
    std::fprintf(stderr, "%s:%d: property broken: %s\n  %s\n", file, line, condition,
                 detail.c_str());
    std::abort();
}

}  // namespace qarnfuzz

// `detail` is evaluated only when the property is broken.
#define FUZZ_CHECK(condition, detail)                                        \
    do {                                                                     \
        if (!(condition)) {                                                  \
            qarnfuzz::checkFailed(__FILE__, __LINE__, #condition, (detail)); \
        }                                                                    \
    } while (false)
