#pragma once
// The word a mistyped one was probably meant to be, for "did you mean ...?".

#include <string>
#include <vector>

namespace qarn {

// The word of `words` that `typed` begins (when only one does) or is the fewest edits away from
// (a letter added, dropped, changed, or two neighbours swapped: at most 1 edit for words of up to
// 4 letters, 2 for longer ones); empty when none is that close or two are equally close.
std::string nearestWord(const std::string& typed, const std::vector<std::string>& words);

}  // namespace qarn
