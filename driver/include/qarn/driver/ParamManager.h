#pragma once
// Typed parameter sets of one protocol instance, read from its configuration string: the serial
// line (common to all nodes) and one set per node block, plus the set of the unprefixed entries
// that serves every node without a block of its own.

#include <deque>
#include <string>

#include <qarn/protlib/CfgParser.h>

namespace _QARN {

// strtol with base auto-detection (0x hexadecimal, leading 0 octal), no error check; values
// beyond int are clamped so that 32- and 64-bit builds read the same number.
int toInt(const char* text);

// Reads one parameter into `value`. Absent optional parameters leave `value` as the caller set
// it, which is how defaults are applied. On failure `error` holds the parser's message.
template <typename T>
bool readParam(CfgParser& parser, const char* name, int node, T& value, int flags, bool optional,
               std::string& error);
template <>
bool readParam<int>(CfgParser& parser, const char* name, int node, int& value, int flags,
                    bool optional, std::string& error);
template <>
bool readParam<std::string>(CfgParser& parser, const char* name, int node, std::string& value,
                            int flags, bool optional, std::string& error);

class NodeParams {
  public:
    // `node` is -1 for the unprefixed set.
    bool parse(CfgParser& parser, int node, std::string& error);

    int defNodeId = 0;
    int timeout = 2000;  // ms, one attempt
    int delay = 0;       // ms, before each transaction
    int repeat = 2;      // further attempts after a link fault
    int maxOptLen = 256;
    std::string presetFunction;  // "16" selects function 16 for holding registers
    int nodeNumber = -1;         // n of the "Node<n>::" block; -1 for the unprefixed set
    std::string model = "1";     // "1" names no model
};

class CommonParams {
  public:
    bool parse(CfgParser& parser, std::string& error);

    std::string uart;
    int baudrate = 0;
    std::string parity;
    int bits = 0;
    int stopbits = 0;
    std::string mode;
};

class ParamManager {
  public:
    // Reads the whole configuration; false at the first failure, its message in getLastError().
    // Node blocks are appended behind those of an earlier parse.
    bool parse(const char* text);

    // The first block of that node number, else the unprefixed set. Never null.
    const NodeParams* getNodeParams(int nodeNumber) const;
    const CommonParams* getCommonParams() const { return &common; }
    const char* getLastError() const { return lastError.c_str(); }
    // Largest timeout x repeat over all sets, in ms.
    int getMaxTm() const { return maxTm; }

  private:
    void raiseMaxTm(const NodeParams& params);

    // A deque never moves its elements on append: tags keep pointers into it across a second
    // Config.
    std::deque<NodeParams> nodes;
    NodeParams defaults;
    CommonParams common;
    std::string lastError;
    int maxTm = 0;
};

// timeout x repeat in ms, clamped to the range of int.
int transactionTime(const NodeParams& params);

}  // namespace _QARN
