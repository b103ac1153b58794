#include <qarn/protlib/CfgParser.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstring>

namespace {

const char VersionMarker[] = "CfgVer=1";
const char AnyVersionMarker[] = "CfgVer=";
const char NodePrefix[] = "Node";
const char NodeSeparator[] = "::";

bool isSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// Decimal id between "Node" and "::". False when a character is not a digit or the number does
// not fit an int: such a prefix names no node. No digits at all give 0.
bool parseNodeId(const std::string& digits, int& id) {
    int64_t value = 0;  // wider than int on every target, so the test below sees the overflow
    for (char c : digits) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + (c - '0');
        if (value > INT_MAX) {
            return false;
        }
    }
    id = static_cast<int>(value);
    return true;
}

}  // namespace

CfgParser::CfgParser(const char* configuration) {
    const std::string all = configuration != nullptr ? configuration : "";
    const size_t marker = all.find(VersionMarker);
    if (marker == std::string::npos) {
        return;
    }
    knownFormat = true;
    // Everything up to a following version marker belongs to another format version.
    const size_t begin = marker + std::strlen(VersionMarker);
    const size_t end = all.find(AnyVersionMarker, begin);
    text = all.substr(begin, end == std::string::npos ? std::string::npos : end - begin);

    const size_t prefixLength = std::strlen(NodePrefix);
    size_t pos = text.find(NodePrefix);
    while (pos != std::string::npos) {
        const size_t separator = text.find(NodeSeparator, pos);
        if (separator == std::string::npos) {
            break;
        }
        int id = 0;
        if (parseNodeId(text.substr(pos + prefixLength, separator - pos - prefixLength), id)) {
            if (std::find(nodeIds.begin(), nodeIds.end(), id) == nodeIds.end()) {
                nodeIds.push_back(id);
            }
            pos = text.find(NodePrefix, separator);
        } else {
            pos = text.find(NodePrefix, pos + prefixLength);
        }
    }
}

bool CfgParser::KnownFormat() const {
    return knownFormat;
}

int CfgParser::GetNodeCount() const {
    return static_cast<int>(nodeIds.size());
}

int CfgParser::GetNodeID(int index) const {
    if (index < 0 || index >= GetNodeCount()) {
        return 0;
    }
    return nodeIds[static_cast<size_t>(index)];
}

const char* CfgParser::GetParam(const char* name) {
    if (name == nullptr) {
        return nullptr;
    }
    const std::string key = std::string(name) + "=";
    size_t pos = text.find(key);
    // A key counts only at the start of an item: "bits=" inside "stopbits=" or the name after a
    // node prefix's "::" is someone else's.
    while (pos != std::string::npos && pos != 0 && !isSpace(text[pos - 1])) {
        pos = text.find(key, pos + 1);
    }
    if (pos == std::string::npos) {
        return nullptr;
    }
    const size_t begin = pos + key.size();
    size_t end = begin;
    while (end < text.size() && !isSpace(text[end])) {
        ++end;
    }
    lastValue.assign(text, begin, end - begin);
    return lastValue.c_str();
}

CfgParser::parseResult CfgParser::getParam(const char* name, int nodeId, std::string& value,
                                           int flags) {
    if ((flags & FLAG_GLOBAL_ONLY) != 0 && (flags & FLAG_PER_NODE) != 0) {
        return PR_INVALID_SPECIFICATION;
    }
    if (nodeId == -1) {
        const char* v = GetParam(name);
        if (!nodeIds.empty() && (flags & FLAG_PER_NODE) != 0) {
            return v == nullptr ? PR_NODE_ONLY : PR_CANT_BE_NODE_INDEPENDENT;
        }
        if (v == nullptr) {
            return PR_NOT_FOUND;
        }
        value = v;
        return PR_OK;
    }

    const std::string prefixed = std::string(NodePrefix) + std::to_string(nodeId) + NodeSeparator +
                                 (name != nullptr ? name : "");
    const char* v = GetParam(prefixed.c_str());
    if (v != nullptr) {
        if ((flags & FLAG_GLOBAL_ONLY) != 0) {
            return PR_CANT_BE_PREFIXED;
        }
        value = v;
        return PR_OK;
    }
    // The global value is every node's default.
    v = GetParam(name);
    if (v == nullptr) {
        return PR_NOT_FOUND;
    }
    value = v;
    return PR_OK;
}

namespace CfgParserN {

bool parseValue(const std::string& raw, std::string& value) {
    static const char Escape[] = "&nbsp;";
    const size_t escapeLength = std::strlen(Escape);
    value = raw;
    size_t pos = value.find(Escape);
    while (pos != std::string::npos) {
        value.replace(pos, escapeLength, " ");
        pos = value.find(Escape, pos + 1);
    }
    return true;
}

std::string getErrorString(CfgParser::parseResult result, const char* name) {
    const char* reason = "has unknown error";
    switch (result) {
        case CfgParser::PR_NOT_FOUND:
            reason = "is not found";
            break;
        case CfgParser::PR_ILLEGAL_VALUE:
            reason = "has illegal value";
            break;
        case CfgParser::PR_CANT_BE_PREFIXED:
            reason = "can't be prefixed";
            break;
        case CfgParser::PR_CANT_BE_NODE_INDEPENDENT:
            reason = "can't be node independent";
            break;
        case CfgParser::PR_INVALID_SPECIFICATION:
            reason = "has invalid internal specification";
            break;
        default:
            break;
    }
    return std::string("Parser: parameter '") + (name != nullptr ? name : "") + "' " + reason;
}

}  // namespace CfgParserN
