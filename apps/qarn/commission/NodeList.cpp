#include <qarn/commission/NodeList.h>

#include <algorithm>
#include <cctype>
#include <sstream>

#include <qarn/rtu/Frame.h>
#include <qarn/toolkit/Errors.h>

namespace qarn {

namespace {

int nodeNumber(const std::string& text, const std::string& list) {
    if (text.empty() || text.size() > 3 ||
        !std::all_of(text.begin(), text.end(),
                     [](unsigned char c) { return std::isdigit(c) != 0; })) {
        throw UsageError("--nodes " + list + ": '" + text + "' is no node number");
    }
    const int node = std::stoi(text);
    if (node < 1 || node > rtu::MaxNode) {
        throw UsageError("--nodes " + list + ": node " + text + " is outside 1.." +
                         std::to_string(rtu::MaxNode));
    }
    return node;
}

}  // namespace

std::vector<int> parseNodeList(const std::string& text) {
    std::vector<int> nodes;
    std::istringstream in(text);
    std::string part;
    while (std::getline(in, part, ',')) {
        const size_t dash = part.find('-');
        const int first = nodeNumber(part.substr(0, dash), text);
        const int last =
            dash == std::string::npos ? first : nodeNumber(part.substr(dash + 1), text);
        if (last < first) {
            throw UsageError("--nodes " + text + ": the range " + part + " runs backwards");
        }
        for (int node = first; node <= last; ++node) {
            if (std::find(nodes.begin(), nodes.end(), node) == nodes.end()) {
                nodes.push_back(node);
            }
        }
    }
    if (nodes.empty() || text.back() == ',') {
        throw UsageError("--nodes '" + text + "' is no node list (e.g. 1-247 or 1,2,7-10)");
    }
    return nodes;
}

}  // namespace qarn
