#pragma once
// Last errors as "Name: text", the code by its name in ErrorCode, so that expectations name the
// code the host compares against; codes without a name keep their number.

#include <string>

#include <qarn/host/ErrorCodes.h>

namespace qarntest {

inline std::string errorName(int code) {
    switch (code) {
        case ErrorCode::NoErrorYet:
            return "NoErrorYet";
        case ErrorCode::Allocation:
            return "Allocation";
        case ErrorCode::Refused:
            return "Refused";
        case ErrorCode::NotAvailable:
            return "NotAvailable";
        case ErrorCode::Communication:
            return "Communication";
        case ErrorCode::Conversion:
            return "Conversion";
        case ErrorCode::NodeUnreachable:
            return "NodeUnreachable";
        default:
            return std::to_string(code);
    }
}

inline std::string lastError(int code, const char* text) {
    return errorName(code) + ": " + text;
}

}  // namespace qarntest
