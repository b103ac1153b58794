#include <qarn/scan/RequestPlan.h>

#include <qarn/host/IProtocol.h>
#include <qarn/host/ITag.h>
#include <qarn/toolkit/NodeGuard.h>

namespace qarn {

namespace {

constexpr int RegisterBytes = 2;

// The driver's Modbus areas by the memory type a tag names, the second field of its address (the
// same field that tells the node areas). The host's interfaces tell neither the area nor the
// function; the numbers below are the ones every tag address of the area is written with.
struct Area {
    const char* memoryType;
    int function;
    long firstAddress;  // how tag addresses write zero-based address 0
};
const Area Areas[] = {
    {"OUTP", 1, 1},
    {"INP", 2, 100001},
    {"HREG", 3, 400001},
    {"IREG", 4, 300001},
};

const Area* areaOf(const ITag& tag) {
    const char* address = tag.GetVarName();
    const std::string type = NodeGuard::field(address != nullptr ? address : "", 1);
    for (const Area& area : Areas) {
        if (type == area.memoryType) {
            return &area;
        }
    }
    return nullptr;
}

// An OUTP address from 10001 to 19999 is a discrete input to the plug-in (the short form of
// INP). Instead of reading the number again, ask the plug-in: CanBeOptimized lets two tags share a
// request only with the same node and read function, so the coil tag merges with a one-bit INP
// tag at the same zero-based bit exactly when it is read with function 2.
bool readAsDiscreteInput(IProtocol4& protocol, const ITag& coil, int bit) {
    const char* address = coil.GetVarName();
    const std::string probeAddress = NodeGuard::field(address != nullptr ? address : "", 0) +
                                     "?INP?" + std::to_string(100001L + bit) + "?boolean";
    ITag* probe = protocol.CreateTag(probeAddress.c_str());
    if (probe == nullptr) {
        return false;
    }
    const bool merges = protocol.CanBeOptimized(&coil, probe, false);
    protocol.FreeTag(probe);
    return merges;
}

}  // namespace

bool answeredByDriver(const ITag& tag) {
    const char* address = tag.GetVarName();
    const std::string type = NodeGuard::field(address != nullptr ? address : "", 1);
    return type == "NO" || type == "SL";
}

std::vector<PlannedRequest> describeRequests(IProtocol4& protocol,
                                             const std::vector<const ITag*>& tags,
                                             const std::vector<ScanGroup>& plan) {
    std::vector<PlannedRequest> requests;
    requests.reserve(plan.size());
    for (const ScanGroup& group : plan) {
        const ITag& leader = *tags[group.tags.front()];
        PlannedRequest r;
        r.node = protocol.GetNodeID(&leader);
        const Area* area = answeredByDriver(leader) ? nullptr : areaOf(leader);
        if (area != nullptr && area->function <= 2) {
            // A bit area: the byte offset and bit index locate the bit, and ReadBlock reads the
            // leader's own bits whatever length is asked for (bits never lead merged groups).
            r.function = area->function;
            r.start = leader.GetByteOffset() * 8 + leader.GetBitIndex();
            r.count = leader.GetVarLength();
            if (r.function == 1 && readAsDiscreteInput(protocol, leader, r.start)) {
                r.function = 2;
            }
        } else if (area != nullptr) {
            // Whole registers from the one holding the group's first byte to the one holding
            // its last, as ReadBlock asks for them.
            r.function = area->function;
            r.start = group.byteOffset / RegisterBytes;
            const int skip = group.byteOffset % RegisterBytes;
            r.count = (skip + group.length + RegisterBytes - 1) / RegisterBytes;
        }
        requests.push_back(r);
    }
    return requests;
}

std::string functionName(int function) {
    switch (function) {
        case 1:
            return "read coils";
        case 2:
            return "read discrete inputs";
        case 3:
            return "read holding registers";
        case 4:
            return "read input registers";
        default:
            return "";
    }
}

long tagAddress(int function, int start) {
    for (const Area& area : Areas) {
        if (area.function == function) {
            return area.firstAddress + start;
        }
    }
    return -1;
}

}  // namespace qarn
