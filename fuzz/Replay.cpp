// Plain replayer of a fuzz target: runs it once over every file named on the command line and
// every file in the folders named there (sorted), so that the corpus is a regression test in
// every build, cross builds under an emulator included. A broken property aborts, as under
// libFuzzer; an unreadable path ends the run with an exception.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        if (!fs::is_directory(argv[i])) {
            files.emplace_back(argv[i]);
            continue;
        }
        const fs::directory_iterator folder(argv[i]);
        std::vector<fs::path> found(fs::begin(folder), fs::end(folder));
        std::sort(found.begin(), found.end());
        files.insert(files.end(), found.begin(), found.end());
    }
    if (files.empty()) {
        std::fprintf(stderr, "usage: %s FILE|FOLDER...  (no input files found)\n", argv[0]);
        return 2;
    }
    for (const fs::path& file : files) {
        std::fprintf(stderr, "%s\n", file.c_str());
        const size_t size = fs::file_size(file);
        // Exactly the input's size, so that reading past it is caught.
        std::unique_ptr<uint8_t[]> data(new uint8_t[size]);
        std::ifstream in(file, std::ios::binary);
        in.exceptions(std::ios::badbit | std::ios::failbit);
        in.read(reinterpret_cast<char*>(data.get()), static_cast<std::streamsize>(size));
        LLVMFuzzerTestOneInput(data.get(), size);
    }
    std::fprintf(stderr, "%zu inputs replayed\n", files.size());
    return 0;
}
