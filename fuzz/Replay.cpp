// Runs a fuzz target once over the files and (sorted) folder contents named on the command line,
// so that CTest replays the corpus in every build; a path that cannot be read throws.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        const auto from = static_cast<std::ptrdiff_t>(files.size());
        if (fs::is_directory(argv[i])) {
            std::copy(fs::directory_iterator(argv[i]), {}, std::back_inserter(files));
        } else {
            files.emplace_back(argv[i]);
        }
        std::sort(files.begin() + from, files.end());
    }
    for (const fs::path& file : files) {
        std::fprintf(stderr, "%s\n", file.c_str());
        // Exactly the input's size, so that reading past it is caught.
        const size_t size = fs::file_size(file);
        std::unique_ptr<uint8_t[]> data(new uint8_t[size]);
        std::ifstream in(file, std::ios::binary);
        in.exceptions(std::ios::badbit | std::ios::failbit);
        in.read(reinterpret_cast<char*>(data.get()), static_cast<std::streamsize>(size));
        LLVMFuzzerTestOneInput(data.get(), size);
    }
    std::fprintf(stderr, "%zu inputs replayed\n", files.size());
    return files.empty() ? 2 : 0;  // nothing to replay is the caller's mistake
}
