// Configuration strings (up to the first NUL) through Protocol_QARN::Config. Checked besides the
// sanitizers: a refused text leaves error -1 with a parser message; a second Config of the same
// text (its blocks are appended) decides the same way; an accepted one starts and stops.

#include <algorithm>
#include <string>

#include "DriverRig.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(data, std::find(data, data + size, 0));

    qarnfuzz::DriverRig rig;
    const bool accepted = rig.configure(text);
    FUZZ_CHECK(accepted || rig.lastError().rfind("-1 Parser: ", 0) == 0,
               "refused with " + rig.lastError());
    FUZZ_CHECK(rig.protocol->Config(text.c_str()) == accepted,
               "a second Config decided otherwise: " + rig.lastError());
    if (accepted) {
        FUZZ_CHECK(rig.protocol->Start() && rig.protocol->Stop(), rig.lastError());
    }
    return 0;
}
