#pragma once
// The Prometheus text format of the lines' state: tag values and states, requests, failures by
// kind, the cycle-time histogram and whether each line answers. With several lines, every
// series carries a `line` label.

#include <string>
#include <vector>

namespace qarn::web {

class LineState;

std::string metricsText(const std::vector<const LineState*>& lines);
// A label value in the text format's escapes (backslash, quote, newline).
std::string labelValue(const std::string& text);

}  // namespace qarn::web
