#include <qarn/rtu/NodeAddress.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace rtu {

bool parseNodeId(const std::string& text, long& node) {
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 0);
    if (errno != 0 || end != text.c_str() + text.size()) {
        return false;
    }
    node = value;
    return true;
}

std::string nodeProblem(long node, bool broadcast) {
    if (node == BroadcastNode) {
        return broadcast ? std::string()
                         : "node 0 is a broadcast that every slave obeys; give --broadcast "
                           "to send it";
    }
    if (node >= FirstNode && node <= LastNode) {
        return {};
    }
    if (node == DisabledNode) {
        return {};
    }
    if (node > LastNode && node < DisabledNode) {
        return "node " + std::to_string(node) + " is reserved (slaves use 1 to 247)";
    }
    return "node " + std::to_string(node) +
           " is out of range (1 to 247; the plug-in would send its low byte, " +
           std::to_string(static_cast<unsigned long>(node) & 0xFFu) + ")";
}

std::string nodeTextProblem(const std::string& text, bool broadcast, const std::string& what) {
    long node = 0;
    if (!parseNodeId(text, node)) {
        return what + " '" + text + "' is not a node number";
    }
    const std::string problem = nodeProblem(node, broadcast);
    return problem.empty() ? problem : what + " '" + text + "': " + problem;
}

}  // namespace rtu
