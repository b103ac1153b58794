// Console lines through DoCommand, with reply buffers from nothing to a few dozen bytes.
//
// Input: a byte with the reply size (below 64; 0 passes no buffer at all), a byte with the
// number of scripted answers (low 3 bits) and the answers (DriverRig.h) that "read" and "write"
// meet on the line, then command lines separated by line feeds.
//
// Properties: the reply buffer is written only inside its size (it is allocated to the exact
// size), a command is taken (result 1) exactly when its first word is one of the console's,
// and a line that is not taken leaves the reply as it was.

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "DriverRig.h"
#include "FuzzCheck.h"
#include "ProtUtilsN.h"

namespace {

using namespace qarnfuzz;

constexpr int MaxLines = 16;
constexpr size_t MaxReplySize = 64;
constexpr uint8_t Untouched = 0xA5;
// "read" and "write" size their value buffers by the tag; a host never names tags of megabytes,
// and the console would only spend the time zero-filling them.
constexpr int MaxValueLength = 4096;

const char* const Commands[] = {"help",  "info",     "xml",        "lasterror", "read",
                                "write", "getmaxtm", "deletetags", "setid",     "getid"};

bool isCommand(const std::string& word) {
    return std::find_if(std::begin(Commands), std::end(Commands),
                        [&word](const char* c) { return word == c; }) != std::end(Commands);
}

// The tag named by a "read" or "write" line would hold more than MaxValueLength bytes.
bool namesHugeTag(const std::vector<std::string>& words) {
    if (words.size() < 2 || (words[0] != "read" && words[0] != "write")) {
        return false;
    }
    std::vector<std::string> fields;
    ProtUtilsN::ParseSubstrings(words[1], fields, '?');
    ICU_Type varType = ICU_NONE;
    ICU_Type itemType = ICU_NONE;
    int length = 0;
    std::vector<std::string> conversions;
    return fields.size() == 4 &&
           ProtUtilsN::GetORBAType(fields[3], varType, itemType, length, conversions) &&
           length > MaxValueLength;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const size_t replySize = in.byte() % MaxReplySize;
    const int answerCount = in.byte() & 7;

    DriverRig rig;
    FUZZ_CHECK(rig.configure(std::string(LineConfig) + "defNodeId=1 model=GenericModbus"),
               rig.lastError());
    FUZZ_CHECK(rig.protocol->Start(), rig.lastError());
    queueAnswers(in, rig.port, answerCount, AnswerHint{});

    for (int n = 0; n < MaxLines && !in.empty(); ++n) {
        std::string line = in.line();
        // The console sees the text up to its first NUL, and so does the check.
        line.resize(std::strlen(line.c_str()));
        std::vector<std::string> words;
        ProtUtilsN::ParseSubstrings(line, words, ' ');
        if (namesHugeTag(words)) {
            continue;
        }
        std::unique_ptr<char[]> reply;
        if (replySize > 0) {
            reply.reset(new char[replySize]);
            std::memset(reply.get(), Untouched, replySize);
        }
        const int taken =
            rig.protocol->DoCommand(line.c_str(), reply.get(), static_cast<int>(replySize));
        FUZZ_CHECK(taken == (isCommand(words.front()) ? 1 : 0),
                   "result " + std::to_string(taken) + " for \"" + line + "\"");
        if (taken == 0) {
            for (size_t i = 0; i < replySize; ++i) {
                FUZZ_CHECK(static_cast<uint8_t>(reply[i]) == Untouched,
                           "reply changed by \"" + line + "\"");
            }
        }
    }
    return 0;
}
