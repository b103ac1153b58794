#pragma once

#include <string>

namespace qarn {

// A CSV field, quoted when it holds a comma, a quote or a line break.
std::string csvField(const std::string& text);

}  // namespace qarn
