#pragma once
// Node lists as the user writes them: "1-247", "1,2,7", "1-10,20-30".

#include <string>
#include <vector>

namespace qarn {

// The nodes in the order written, each once. Throws UsageError for text that is no list, a
// range running backwards, or a node outside 1..247 (0 is the broadcast, which nobody answers).
std::vector<int> parseNodeList(const std::string& text);

}  // namespace qarn
