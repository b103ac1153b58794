#pragma once
// The kind of a failed request, for the health view and the metrics' `kind` label, from the
// plug-in's code and its text with what the ports saw.

#include <string>

namespace qarn::web {

// One of: gone (the device went away), timeout (no answer), incomplete, crc, exception (the
// device refused), wrong_answer (another node or function answered), echo (only our own request
// came back), stopped, or error_CODE for anything else the plug-in reports.
std::string failureKind(int code, const std::string& text);

}  // namespace qarn::web
