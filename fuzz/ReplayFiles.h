#pragma once
// The inputs a replay run names: files as they are, folders with every regular file beneath
// them, in a fixed order so that runs are reproducible.

#include <string>
#include <vector>

namespace qarnfuzz {

// Appends the input files that `paths` name; false with `error` for a path that does not exist.
// Arguments starting with "-" are libFuzzer options and are skipped, so that one command line
// serves both kinds of binary.
bool collectInputs(const std::vector<std::string>& paths, std::vector<std::string>& files,
                   std::string& error);

}  // namespace qarnfuzz
