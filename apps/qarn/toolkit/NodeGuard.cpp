#include <qarn/toolkit/NodeGuard.h>

#include <cstdlib>

#include <qarn/host/IPermanentStorage.h>
#include <qarn/rtu/NodeAddress.h>

namespace qarn {

namespace {

// The plug-in keeps node overrides under "tempNode<configured id>".
constexpr char OverridePrefix[] = "tempNode";

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string trimmed(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && isBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && isBlank(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

// A number as the plug-in reads keys and stored values: strtol with base 0, whatever follows.
int pluginNumber(const std::string& text) {
    return static_cast<int>(std::strtol(text.c_str(), nullptr, 0));
}

std::string removeHint(long node) {
    return "'qarn console setid " + std::to_string(node) + " 0' removes the override";
}

}  // namespace

NodeGuard::NodeGuard(IPermanentStorage* store, std::string section, std::string storeName,
                     bool broadcast)
    : store_(store),
      section_(std::move(section)),
      storeName_(std::move(storeName)),
      broadcast_(broadcast) {}

std::string NodeGuard::field(const std::string& address, size_t index) {
    size_t begin = 0;
    for (size_t i = 0; i < index; ++i) {
        begin = address.find('?', begin);
        if (begin == std::string::npos) {
            return std::string();
        }
        ++begin;
    }
    const size_t end = address.find('?', begin);
    return trimmed(address.substr(begin, end == std::string::npos ? end : end - begin));
}

bool NodeGuard::isNodeOverride(const std::string& address) {
    return field(address, 1) == "NO";
}

std::string NodeGuard::where(const std::string& key) const {
    return key + " in [" + section_ + "] of " + storeName_;
}

bool NodeGuard::storedTarget(long configured, std::string& key, std::string& value) const {
    if (store_ == nullptr) {
        return false;
    }
    // The plug-in restores every key in the section's order, a later one replacing an earlier
    // one that reads as the same node ("tempNode03" before "tempNode3").
    bool found = false;
    const int count = store_->GetValueCount(section_.c_str());
    for (int i = 0; i < count; ++i) {
        const char* name = store_->GetValueName(section_.c_str(), i);
        const std::string text = name != nullptr ? name : "";
        if (text.compare(0, sizeof OverridePrefix - 1, OverridePrefix) != 0 ||
            pluginNumber(text.substr(sizeof OverridePrefix - 1)) != configured) {
            continue;
        }
        const char* stored = store_->GetValue(section_.c_str(), text.c_str());
        key = text;
        value = stored != nullptr ? stored : "";
        found = true;
    }
    return found;
}

std::string NodeGuard::tagProblem(const std::string& address, TagAccess access) const {
    // Reads of node 0 are left to the plug-in, which answers them with "Broadcast request".
    const bool zeroAllowed = access == TagAccess::Read || broadcast_;
    const std::string nodeText = field(address, 0);
    const std::string problem = rtu::nodeTextProblem(nodeText, zeroAllowed, "node");
    if (!problem.empty()) {
        return problem;
    }
    long node = 0;
    rtu::parseNodeId(nodeText, node);
    std::string key;
    std::string target;
    if (!storedTarget(node, key, target)) {
        return std::string();
    }
    const std::string targetProblem =
        rtu::nodeTextProblem(target, zeroAllowed, "its override target");
    if (targetProblem.empty()) {
        return std::string();
    }
    return "node " + std::to_string(node) + " is overridden by " + where(key) + ": " +
           targetProblem + "; " + removeHint(node);
}

std::string NodeGuard::targetProblem(long target) const {
    const std::string problem = rtu::nodeProblem(target, broadcast_);
    return problem.empty() ? problem : "new override target: " + problem;
}

std::string NodeGuard::setIdProblem(const std::string& node, const std::string& target) const {
    // Overriding node 0 itself sends nothing: only a broadcast write would then go elsewhere.
    std::string problem = rtu::nodeTextProblem(node, true, "node");
    if (!problem.empty()) {
        return problem;
    }
    long value = 0;
    if (rtu::parseNodeId(target, value) && value == rtu::BroadcastNode) {
        return std::string();  // 0 resets the node to itself
    }
    return rtu::nodeTextProblem(target, broadcast_, "override target");
}

std::vector<std::string> NodeGuard::storedProblems() const {
    std::vector<std::string> notes;
    if (store_ == nullptr) {
        return notes;
    }
    const int count = store_->GetValueCount(section_.c_str());
    for (int i = 0; i < count; ++i) {
        const char* name = store_->GetValueName(section_.c_str(), i);
        const std::string key = name != nullptr ? name : "";
        if (key.compare(0, sizeof OverridePrefix - 1, OverridePrefix) != 0) {
            continue;
        }
        const char* stored = store_->GetValue(section_.c_str(), key.c_str());
        const std::string value = stored != nullptr ? stored : "";
        const std::string nodeText = key.substr(sizeof OverridePrefix - 1);
        long node = 0;
        std::string problem;
        if (!rtu::parseNodeId(nodeText, node)) {
            problem = "'" + nodeText + "' is not a node number; the plug-in takes it as node " +
                      std::to_string(pluginNumber(nodeText));
        } else {
            problem = rtu::nodeTextProblem(value, false, "override target");
            if (!problem.empty()) {
                problem += "; requests for node " + std::to_string(node) + " are refused, " +
                           removeHint(node);
            }
        }
        if (!problem.empty()) {
            notes.push_back("note: " + key + "=" + value + " in [" + section_ + "] of " +
                            storeName_ + ": " + problem);
        }
    }
    return notes;
}

}  // namespace qarn
