#include <qarn/scan/ScanPlanner.h>

#include <algorithm>
#include <cctype>
#include <numeric>
#include <tuple>

#include <qarn/host/IProtocol.h>
#include <qarn/host/ITag.h>

namespace qarn {

std::string memoryTypeOf(const ITag& tag) {
    const char* address = tag.GetVarName();
    if (address == nullptr) {
        return std::string();
    }
    const std::string text(address);
    const size_t first = text.find('?');
    if (first == std::string::npos) {
        return std::string();
    }
    const size_t second = text.find('?', first + 1);
    std::string field = text.substr(
        first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
    const auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
    field.erase(field.begin(), std::find_if_not(field.begin(), field.end(), blank));
    field.erase(std::find_if_not(field.rbegin(), field.rend(), blank).base(), field.end());
    return field;
}

bool isBitArea(const std::string& memoryType) {
    return memoryType == "INP" || memoryType == "OUTP";
}

std::vector<ScanGroup> planScan(const IProtocol4& protocol, const std::vector<const ITag*>& tags) {
    struct Key {
        int node;
        std::string area;
        int byteOffset;
        int packedLen;
    };
    std::vector<Key> keys;
    keys.reserve(tags.size());
    for (const ITag* tag : tags) {
        keys.push_back(Key{protocol.GetNodeID(tag), memoryTypeOf(*tag), tag->GetByteOffset(),
                           tag->PackedLen()});
    }
    std::vector<size_t> order(tags.size());
    std::iota(order.begin(), order.end(), size_t{0});
    // Among tags that start at the same byte the longer one leads: it is the one whose limits
    // matter. The index keeps the order of equal tags stable.
    std::sort(order.begin(), order.end(), [&keys](size_t a, size_t b) {
        const Key& x = keys[a];
        const Key& y = keys[b];
        return std::tie(x.node, x.area, x.byteOffset, y.packedLen, a) <
               std::tie(y.node, y.area, y.byteOffset, x.packedLen, b);
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
        group.onLine = leader.area != "NO" && leader.area != "SL";
        int end = leader.byteOffset + leader.packedLen;
        const bool mayMerge =
            !isBitArea(leader.area) && protocol.CanBeOptimized(tags[lead], tags[lead], false);
        for (size_t j = i + 1; mayMerge && j < order.size(); ++j) {
            const size_t candidate = order[j];
            const Key& k = keys[candidate];
            if (k.node != leader.node || k.area != leader.area) {
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
