#pragma once
// Plans one scan over a set of tags the way a host does: tags that the protocol lets share a
// request are read with one ReadBlock, and each tag's raw image is then cut out of the block.
// The plan asks the protocol through the host's interfaces alone, so any protocol instance,
// loaded or linked, can be asked: CanBeOptimized decides what shares a request; GetNodeID and
// the tags' own fields (ITag) order the tags.

#include <cstddef>
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
    // False when the plug-in answers the request from its own tables. The host's interfaces do
    // not tell, so the planner leaves it true; the scan sets it (see ScanHooks).
    bool onLine = true;
};

// Groups the tags, sorted by node and byte offset (among tags that start at the same byte, the
// whole-byte values first, then the longer). A tag leads a merged group only when the protocol
// would let it share a request with itself (it fits the limits alone) and its value is not bits;
// it then takes every later tag of its node that CanBeOptimized(leader, tag, false) accepts.
// Taking the fitting tags behind one that does not fit (a long string between two registers)
// keeps the request count at the least the merge rules allow.
//
// Why bits never lead: ReadBlock on a coil or discrete input delivers the leader's own bits,
// whatever length is asked for, while CanBeOptimized lets neighbouring bits share a request; and
// through ITag a coil cannot be told from a bit of a holding register (same byte offset, bit
// index, type and lengths). So coils and discrete inputs are read one tag a request, and a bit
// of a register shares a request only when a whole-byte tag at or before it leads.
std::vector<ScanGroup> planScan(const IProtocol4& protocol, const std::vector<const ITag*>& tags);

}  // namespace qarn
