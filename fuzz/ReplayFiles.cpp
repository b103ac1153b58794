#include "ReplayFiles.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace qarnfuzz {

namespace fs = std::filesystem;

bool collectInputs(const std::vector<std::string>& paths, std::vector<std::string>& files,
                   std::string& error) {
    for (const std::string& path : paths) {
        if (path.empty() || path[0] == '-') {
            continue;
        }
        std::error_code ec;
        if (fs::is_regular_file(path, ec)) {
            files.push_back(path);
            continue;
        }
        if (!fs::is_directory(path, ec)) {
            error = path + ": no such file or folder";
            return false;
        }
        std::vector<std::string> found;
        for (fs::recursive_directory_iterator it(path, ec), end; !ec && it != end;
             it.increment(ec)) {
            if (it->is_regular_file(ec)) {
                found.push_back(it->path().string());
            }
        }
        if (ec) {
            error = path + ": " + ec.message();
            return false;
        }
        std::sort(found.begin(), found.end());
        files.insert(files.end(), found.begin(), found.end());
    }
    return true;
}

}  // namespace qarnfuzz
