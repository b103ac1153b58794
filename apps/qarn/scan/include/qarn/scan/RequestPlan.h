#pragma once
// A planned scan as the line sees it: for each request its node, Modbus read function, start
// address and count, for `--plan` and for people who compare it with a trace or a device manual.

#include <string>
#include <vector>

#include <qarn/scan/ScanPlanner.h>

class IProtocol4;
class ITag;

namespace qarn {

struct PlannedRequest {
    int node = 0;      // the tag's node; a stored node-ID override may send it elsewhere
    int function = 0;  // Modbus read function 1 to 4; 0: no request, the driver answers itself
    int start = 0;     // zero-based address, as in the request frame
    int count = 0;     // registers or bits
};

// One entry per group of `plan` (made by planScan over `tags`). `protocol` is the one that made
// the tags; it is asked through the host's interfaces only.
std::vector<PlannedRequest> describeRequests(IProtocol4& protocol,
                                             const std::vector<const ITag*>& tags,
                                             const std::vector<ScanGroup>& plan);

// Whether the plug-in answers the tag from its own tables (node areas NO and SL), no request.
bool answeredByDriver(const ITag& tag);

// "read holding registers"; empty for 0 and unknown codes.
std::string functionName(int function);
// The start as tag addresses write it (400001 for holding register 0); -1 for no function.
long tagAddress(int function, int start);

}  // namespace qarn
