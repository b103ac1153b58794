// Console lines through DoCommand with reply buffers of 0 to 63 bytes; guard bytes behind the
// reply show writes past it also without the sanitizers (layout and properties in README.md).

#include <algorithm>

#include "DriverRig.h"

using namespace qarnfuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t Guard = 16;
    FuzzInput in{data, size};
    const size_t replySize = in.byte() % 64;
    const int answerCount = in.byte() & 7;
    DriverRig rig;
    FUZZ_CHECK(rig.start("defNodeId=1 model=GenericModbus"), rig.lastError());
    queueAnswers(in, rig.port, answerCount, 1, 3);
    for (int n = 0; n < 16 && !in.empty(); ++n) {
        const std::string line = in.line();
        // "read" and "write" size their buffers by the tag; tags of megabytes only cost time.
        const size_t type = line.rfind('?') + 1;
        if (type != 0 && typeLength(line.substr(type, line.find(' ', type) - type)) > 4096) {
            continue;
        }
        std::vector<char> reply(replySize + Guard, 0x5A);
        rig.protocol->DoCommand(line.c_str(), replySize > 0 ? reply.data() : nullptr,
                                static_cast<int>(replySize));
        FUZZ_CHECK(std::count(reply.begin() + replySize, reply.end(), 0x5A) == Guard + 0L,
                   "written past " + std::to_string(replySize) + " bytes by \"" + line + "\"");
    }
    return 0;
}
