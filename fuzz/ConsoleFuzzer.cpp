// Console lines through DoCommand with reply buffers from nothing to 63 bytes (layout in
// README.md). Checked besides the sanitizers: nothing is written past the reply's size (guard
// bytes behind it show that in builds without the address sanitizer too).

#include <algorithm>
#include <string>
#include <vector>

#include "DriverRig.h"

namespace {

constexpr size_t Guard = 16;
constexpr char Untouched = 0x5A;

// "read" and "write" size their value buffers by the tag; a host never names tags of megabytes,
// and the console would only spend the time zero-filling them.
bool namesHugeTag(const std::string& line) {
    std::vector<std::string> words;
    std::vector<std::string> fields;
    ProtUtilsN::ParseSubstrings(line, words, ' ');
    if (words.size() >= 2 && (words[0] == "read" || words[0] == "write")) {
        ProtUtilsN::ParseSubstrings(words[1], fields, '?');
    }
    return fields.size() == 4 && qarnfuzz::typeLength(fields[3]).value_or(0) > 4096;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qarnfuzz::FuzzInput in(data, size);
    const size_t replySize = in.byte() % 64;
    const int answerCount = in.byte() & 7;
    qarnfuzz::DriverRig rig;
    FUZZ_CHECK(rig.start("defNodeId=1 model=GenericModbus"), rig.lastError());
    qarnfuzz::queueAnswers(in, rig.port, answerCount, 1, 3);

    for (int n = 0; n < 16 && !in.empty(); ++n) {
        const std::string line = in.line();
        if (namesHugeTag(line)) {
            continue;
        }
        std::vector<char> reply(replySize + Guard, Untouched);
        rig.protocol->DoCommand(line.c_str(), replySize > 0 ? reply.data() : nullptr,
                                static_cast<int>(replySize));
        FUZZ_CHECK(std::all_of(reply.begin() + replySize, reply.end(),
                               [](char c) { return c == Untouched; }),
                   "written past " + std::to_string(replySize) + " bytes by \"" + line + "\"");
    }
    return 0;
}
