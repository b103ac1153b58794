#pragma once
// Last errors as "Name: text", the code by its name in ErrorCode, so that expectations name the
// code the host compares against; codes without a name keep their number.

#include <string>
#include <utility>

#include <qarn/host/ErrorCodes.h>

namespace qarntest {

inline std::string lastError(int code, const char* text) {
    using namespace ErrorCode;
    // clang-format off
    const std::pair<int, const char*> names[] = {
        {NoErrorYet, "NoErrorYet"}, {Allocation, "Allocation"}, {Refused, "Refused"},
        {NotAvailable, "NotAvailable"}, {Communication, "Communication"},
        {Conversion, "Conversion"}, {NodeUnreachable, "NodeUnreachable"}};
    // clang-format on
    std::string name = std::to_string(code);
    for (const auto& [known, knownName] : names) {
        name = known == code ? knownName : name;
    }
    return name + ": " + text;
}

}  // namespace qarntest
