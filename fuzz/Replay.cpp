// Plain replayer of a fuzz target: runs the target once over every input file named on the
// command line (folders are searched), so that the corpus serves as a regression test in every
// build, cross builds under an emulator included. A broken property aborts, as under libFuzzer.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "ReplayFiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    const std::vector<std::string> paths(argv + 1, argv + argc);
    std::vector<std::string> files;
    std::string error;
    if (!qarnfuzz::collectInputs(paths, files, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    if (files.empty()) {
        std::fprintf(stderr, "usage: %s FILE|FOLDER...  (no input files given)\n", argv[0]);
        return 2;
    }
    for (const std::string& file : files) {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "%s: cannot be read\n", file.c_str());
            return 2;
        }
        const std::vector<char> content{std::istreambuf_iterator<char>(in),
                                        std::istreambuf_iterator<char>()};
        // A copy of exactly the input's size, so that reading past it is caught.
        std::unique_ptr<uint8_t[]> data(new uint8_t[content.size()]);
        std::copy(content.begin(), content.end(), data.get());
        std::fprintf(stderr, "%s\n", file.c_str());
        LLVMFuzzerTestOneInput(data.get(), content.size());
    }
    std::fprintf(stderr, "%zu inputs replayed\n", files.size());
    return 0;
}
