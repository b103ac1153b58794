#pragma once
// Plans one scan over a set of tags the way a host does: tags that the protocol lets share a
// request are read with one ReadBlock, and each tag's raw image is then cut out of the block.
// Works on the host's interfaces alone (IProtocol4 for GetNodeID), so any protocol instance,
// loaded or linked, can be asked.

#include <cstddef>
#include <string>
#include <vector>

class IProtocol4;
class ITag;

namespace qarn {

// One request of the scan.
struct ScanGroup {
    // Indices into the planned tag list; the first one leads the request (ReadBlock is called
    // for it) and has the lowest byte offset of the group.
    std::vector<size_t> tags;
    int byteOffset = 0;  // the leader's GetByteOffset()
    int length = 0;      // bytes from byteOffset to the end of the tag that reaches furthest
    bool onLine = true;  // false for the areas the driver answers itself (node override, address)
};

// The memory type field of a tag address ("HREG" of "1?HREG?400001?short"), trimmed.
std::string memoryTypeOf(const ITag& tag);
// Coils and discrete inputs: the driver reads only the leading tag's bits of a block, so their
// tags are never merged.
bool isBitArea(const std::string& memoryType);

// Groups the tags, sorted by node, memory type and byte offset. A tag leads a merged group only
// when the protocol would let it share a request with itself (it fits the limits alone); it then
// takes every later tag of its node and area that CanBeOptimized(leader, tag, false) accepts.
// Taking the fitting tags behind one that does not fit (a long string between two registers)
// keeps the request count at the least the merge rules allow.
std::vector<ScanGroup> planScan(const IProtocol4& protocol, const std::vector<const ITag*>& tags);

}  // namespace qarn
