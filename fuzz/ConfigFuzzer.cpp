// Configuration strings (up to the first NUL) through Protocol_QARN::Config: a refusal is -1 with
// a parser message, a second Config (blocks appended) decides the same, an accepted one starts.

#include <algorithm>

#include "DriverRig.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(data, std::find(data, data + size, 0));
    qarnfuzz::DriverRig rig;
    const bool accepted = rig.configure(text);
    FUZZ_CHECK(accepted || rig.lastError().rfind("-1 Parser: ", 0) == 0,
               "refused with " + rig.lastError());
    FUZZ_CHECK(rig.protocol->Config(text.c_str()) == accepted,
               "a second Config decided otherwise: " + rig.lastError());
    FUZZ_CHECK(!accepted || (rig.protocol->Start() && rig.protocol->Stop()), rig.lastError());
    return 0;
}
