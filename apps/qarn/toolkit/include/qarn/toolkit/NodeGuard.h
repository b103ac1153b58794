#pragma once
// Which node a request reaches, checked before the plug-in sees it. The plug-in puts the low byte
// of a node id on the line, so node 256, an override to 0x102 or a damaged stored override ("",
// "abc": read as 0) ends up at another slave or as a broadcast that every slave obeys. The guard
// reads a tag's node field and the override the store holds for it as text, strictly, and says
// why a request must not go out.

#include <string>
#include <vector>

class IPermanentStorage;

namespace qarn {

enum class TagAccess { Read, Write };

class NodeGuard {
  public:
    // `store` holds the node overrides in `section` (the protocol's ident); null: there are none.
    // `storeName` names the store in messages. `broadcast`: writes to node 0 are wanted.
    NodeGuard(IPermanentStorage* store, std::string section, std::string storeName, bool broadcast);

    // Why the tag at `address` must not be read or written, or empty. The node field and the
    // stored override of that node are checked; reads of node 0 pass, as the plug-in refuses
    // them itself.
    std::string tagProblem(const std::string& address, TagAccess access) const;
    // Why a node-override write that makes `target` the node's new address must not be made.
    std::string targetProblem(long target) const;
    // Why the console's `setid NODE TARGET` must not reach the plug-in (TARGET 0 resets).
    std::string setIdProblem(const std::string& node, const std::string& target) const;
    // One note per stored override that requests would be refused for.
    std::vector<std::string> storedProblems() const;

    // Field `index` of a tag address (0 the node, 1 the memory type), without the blanks around
    // it, as the plug-in takes it; empty when the address has no such field.
    static std::string field(const std::string& address, size_t index);
    // Whether the tag address names the node-override area, whose writes change the store.
    static bool isNodeOverride(const std::string& address);

  private:
    // The stored override of node `configured` as the plug-in finds it at start: the last key
    // of the section whose number (read as the plug-in reads it) is `configured`.
    bool storedTarget(long configured, std::string& key, std::string& value) const;
    std::string where(const std::string& key) const;

    IPermanentStorage* store_;
    std::string section_;
    std::string storeName_;
    bool broadcast_;
};

}  // namespace qarn
