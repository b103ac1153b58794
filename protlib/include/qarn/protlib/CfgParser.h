#pragma once
// Parser of configuration strings: "...CfgVer=1 name=value Node<id>::name=value ...".

#include <string>
#include <vector>

class CfgParser {
  public:
    enum parseResult {
        PR_OK = 0,
        PR_NODE_ONLY = 1,
        PR_NOT_FOUND = 2,
        PR_ILLEGAL_VALUE = 3,
        PR_CANT_BE_PREFIXED = 4,
        PR_CANT_BE_NODE_INDEPENDENT = 5,
        PR_INVALID_SPECIFICATION = 6,
    };

    // Lookup flags of getParam.
    static constexpr int FLAG_GLOBAL_ONLY = 1;  // must not carry a node prefix
    static constexpr int FLAG_PER_NODE = 2;     // must be given per node when the text has nodes

    explicit CfgParser(const char* configuration);

    bool KnownFormat() const;
    int GetNodeCount() const;
    int GetNodeID(int index) const;
    // Value text of the parameter so named, or null. Valid until the next GetParam.
    const char* GetParam(const char* name);
    // nodeId -1 asks for the global value. `value` is written only for PR_OK.
    parseResult getParam(const char* name, int nodeId, std::string& value, int flags);

  private:
    std::string text;
    std::string lastValue;
    std::vector<int> nodeIds;
    bool knownFormat = false;
};

namespace CfgParserN {

// Replaces every "&nbsp;" by a blank. Always true.
bool parseValue(const std::string& raw, std::string& value);
// "Parser: parameter '<name>' <reason>".
std::string getErrorString(CfgParser::parseResult result, const char* name);

}  // namespace CfgParserN
