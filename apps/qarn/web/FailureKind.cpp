#include <qarn/web/FailureKind.h>

#include <utility>

namespace qarn::web {

std::string failureKind(int code, const std::string& text) {
    // The port's own reasons come first: a device that is gone explains everything else.
    static const std::pair<const char*, const char*> byText[] = {
        {"device gone", "gone"},
        {"stopped", "stopped"},
        {"Exception", "exception"},
        {"no answer within", "timeout"},
        {"echo only", "echo"},
        {"answer incomplete", "incomplete"},
        {"CRC error", "crc"},
        {"another node or function", "wrong_answer"},
        {"Incorrect node address", "wrong_answer"},
    };
    for (const auto& [words, kind] : byText) {
        if (text.find(words) != std::string::npos) {
            return kind;
        }
    }
    return "error_" + std::to_string(code < 0 ? -code : code);
}

}  // namespace qarn::web
