#include <qarn/driver/ParamManager.h>

#include <climits>
#include <cstdlib>

namespace _QARN {

namespace {

// Entries of the serial line must not carry a node prefix.
constexpr int NodeLookup = 0;
constexpr int CommonLookup = CfgParser::FLAG_GLOBAL_ONLY;
constexpr int Unprefixed = -1;

bool accepted(CfgParser::parseResult result, bool optional) {
    return result == CfgParser::PR_OK || result == CfgParser::PR_NODE_ONLY ||
           (optional && result == CfgParser::PR_NOT_FOUND);
}

}  // namespace

int toInt(const char* text) {
    const long value = std::strtol(text, nullptr, 0);
    if (value > INT_MAX) {
        return INT_MAX;
    }
    if (value < INT_MIN) {
        return INT_MIN;
    }
    return static_cast<int>(value);
}

template <>
bool readParam<int>(CfgParser& parser, const char* name, int node, int& value, int flags,
                    bool optional, std::string& error) {
    std::string text;
    const CfgParser::parseResult result = parser.getParam(name, node, text, flags);
    if (result == CfgParser::PR_OK) {
        value = toInt(text.c_str());
    }
    if (accepted(result, optional)) {
        return true;
    }
    error = CfgParserN::getErrorString(result, name);
    return false;
}

template <>
bool readParam<std::string>(CfgParser& parser, const char* name, int node, std::string& value,
                            int flags, bool optional, std::string& error) {
    std::string text;
    CfgParser::parseResult result = parser.getParam(name, node, text, flags);
    if (result == CfgParser::PR_OK && !CfgParserN::parseValue(text, value)) {
        result = CfgParser::PR_ILLEGAL_VALUE;
    }
    if (accepted(result, optional)) {
        return true;
    }
    error = CfgParserN::getErrorString(result, name);
    return false;
}

bool NodeParams::parse(CfgParser& parser, int node, std::string& error) {
    // The node's configured id is required, and without a default.
    if (!readParam(parser, "defNodeId", node, defNodeId, NodeLookup, false, error)) {
        return false;
    }
    timeout = 2000;
    if (!readParam(parser, "timeout", node, timeout, NodeLookup, true, error)) {
        return false;
    }
    delay = 0;
    if (!readParam(parser, "delay", node, delay, NodeLookup, true, error)) {
        return false;
    }
    repeat = 2;
    if (!readParam(parser, "repeat", node, repeat, NodeLookup, true, error)) {
        return false;
    }
    maxOptLen = 256;
    if (!readParam(parser, "maxOptLen", node, maxOptLen, NodeLookup, true, error)) {
        return false;
    }
    presetFunction.clear();  // anything but "16" selects function 6
    if (!readParam(parser, "presetFunction", node, presetFunction, NodeLookup, true, error)) {
        return false;
    }
    model = "1";
    return readParam(parser, "model", node, model, NodeLookup, true, error);
}

bool CommonParams::parse(CfgParser& parser, std::string& error) {
    return readParam(parser, "uart", Unprefixed, uart, CommonLookup, false, error) &&
           readParam(parser, "baudrate", Unprefixed, baudrate, CommonLookup, false, error) &&
           readParam(parser, "parity", Unprefixed, parity, CommonLookup, false, error) &&
           readParam(parser, "bits", Unprefixed, bits, CommonLookup, false, error) &&
           readParam(parser, "stopbits", Unprefixed, stopbits, CommonLookup, false, error) &&
           readParam(parser, "mode", Unprefixed, mode, CommonLookup, false, error);
}

int transactionTime(const NodeParams& params) {
    const long long product = static_cast<long long>(params.timeout) * params.repeat;
    if (product > INT_MAX) {
        return INT_MAX;
    }
    if (product < INT_MIN) {
        return INT_MIN;
    }
    return static_cast<int>(product);
}

void ParamManager::raiseMaxTm(const NodeParams& params) {
    const int time = transactionTime(params);
    if (time > maxTm) {
        maxTm = time;
    }
}

bool ParamManager::parse(const char* text) {
    CfgParser parser(text != nullptr ? text : "");
    if (!parser.KnownFormat()) {
        lastError = "Parser: unknown format";
        return false;
    }
    maxTm = 0;
    if (!defaults.parse(parser, Unprefixed, lastError)) {
        return false;
    }
    raiseMaxTm(defaults);
    for (int i = 0; i < parser.GetNodeCount(); ++i) {
        NodeParams block;
        block.nodeNumber = parser.GetNodeID(i);
        if (!block.parse(parser, block.nodeNumber, lastError)) {
            return false;
        }
        raiseMaxTm(block);
        nodes.push_back(block);
    }
    return common.parse(parser, lastError);
}

const NodeParams* ParamManager::getNodeParams(int nodeNumber) const {
    for (const NodeParams& block : nodes) {
        if (block.nodeNumber == nodeNumber) {
            return &block;
        }
    }
    return &defaults;
}

}  // namespace _QARN
