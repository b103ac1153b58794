#pragma once
// Which node addresses a master may put on the line. The plug-in sends the low byte of whatever
// node id it is given, so 256 becomes 0, a broadcast that every slave obeys. The host side checks
// node ids, as written and after an override, before they reach the plug-in.

#include <string>

namespace rtu {

constexpr long BroadcastNode = 0;
constexpr long FirstNode = 1;
constexpr long LastNode = 247;      // highest address a slave may have
constexpr long DisabledNode = 255;  // the plug-in's "Node disabled": sends nothing

// Reads a node id as the plug-in does (decimal, 0x hexadecimal, leading-0 octal), but strictly:
// the whole text must be the number, with no sign and no blanks. False otherwise.
bool parseNodeId(const std::string& text, long& node);

// Why `node` must not be used, or empty when it may. A broadcast (0) may be read from or written
// to only when `broadcast` is allowed; 248 to 254 are reserved; 255 passes (the plug-in refuses
// it itself); anything outside 0..255 would be cut to its low byte.
std::string nodeProblem(long node, bool broadcast);

// The same for a node id as text: a text that is no number is refused too. `what` names it in
// the reason, e.g. "node" or "override target".
std::string nodeTextProblem(const std::string& text, bool broadcast, const std::string& what);

}  // namespace rtu
