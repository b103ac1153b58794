#include <qarn/scan/ScanPlanner.h>

#include <algorithm>
#include <numeric>
#include <tuple>

#include <qarn/host/IProtocol.h>
#include <qarn/host/ITag.h>

namespace qarn {

namespace {

bool bitValued(const ITag& tag) {
    const ICU_Type type = tag.GetVarType();
    return type == ICU_BOOLEAN || type == ICU_BOOLEAN_ARRAY;
}

}  // namespace

std::vector<ScanGroup> planScan(const IProtocol4& protocol, const std::vector<const ITag*>& tags) {
    struct Key {
        int node;
        int byteOffset;
        bool bits;
        int packedLen;
    };
    std::vector<Key> keys;
    keys.reserve(tags.size());
    for (const ITag* tag : tags) {
        keys.push_back(
            Key{protocol.GetNodeID(tag), tag->GetByteOffset(), bitValued(*tag), tag->PackedLen()});
    }
    std::vector<size_t> order(tags.size());
    std::iota(order.begin(), order.end(), size_t{0});
    // Among tags that start at the same byte, one that may lead goes first, and of those the
    // longer: it is the one whose limits matter. The index keeps the order of equal tags stable.
    std::sort(order.begin(), order.end(), [&keys](size_t a, size_t b) {
        const Key& x = keys[a];
        const Key& y = keys[b];
        return std::tie(x.node, x.byteOffset, x.bits, y.packedLen, a) <
               std::tie(y.node, y.byteOffset, y.bits, x.packedLen, b);
    });

    std::vector<ScanGroup> plan;
    std::vector<bool> taken(tags.size(), false);
    for (size_t i = 0; i < order.size(); ++i) {
        const size_t lead = order[i];
        if (taken[lead]) {
            continue;
        }
        taken[lead] = true;
        const Key& leader = keys[lead];
        ScanGroup group;
        group.tags.push_back(lead);
        group.byteOffset = leader.byteOffset;
        int end = leader.byteOffset + leader.packedLen;
        const bool mayMerge =
            !leader.bits && protocol.CanBeOptimized(tags[lead], tags[lead], false);
        // Tags the protocol keeps apart (another area, a bit area) are skipped, not a boundary:
        // tags of different areas interleave in this order.
        for (size_t j = i + 1; mayMerge && j < order.size(); ++j) {
            const size_t candidate = order[j];
            const Key& k = keys[candidate];
            if (k.node != leader.node) {
                break;
            }
            if (taken[candidate] || !protocol.CanBeOptimized(tags[lead], tags[candidate], false)) {
                continue;
            }
            taken[candidate] = true;
            group.tags.push_back(candidate);
            end = std::max(end, k.byteOffset + k.packedLen);
        }
        group.length = end - group.byteOffset;
        plan.push_back(std::move(group));
    }
    return plan;
}

}  // namespace qarn
