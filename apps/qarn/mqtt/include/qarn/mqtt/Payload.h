#pragma once
// What goes in the messages: each tag's value as JSON,
//   {"value":..., "ok":true|false, "error":"...", "time":"2026-01-02T03:04:05.678Z"}
// ("error" only when not ok, "unit" when the tag has one), the result of a write, and a line's
// health. Values are scaled (value * scale + offset) when the tag says so.

#include <chrono>
#include <optional>
#include <string>

#include <qarn/scan/Scan.h>
#include <qarn/toolkit/ValueCodec.h>

namespace qarn {

struct TagScaling {
    std::optional<double> scale;
    std::optional<double> offset;
    std::string unit;

    bool scaled() const { return scale.has_value() || offset.has_value(); }
};

struct Payload {
    std::string text;     // the message
    std::string subject;  // the same without the time: what "on change" compares
};

// A read's result. A failed read carries a null value and the error.
Payload tagPayload(const ValueType& type, const TagResult& result, const TagScaling& scaling);
// The result of a write: {"ok":true,"value":"TEXT","time":...} or {"ok":false,"error":...}.
std::string writeResultPayload(bool ok, const std::string& valueOrError,
                               std::chrono::system_clock::time_point time);
// A write's value text as the tag's raw text: for a scaled numeric tag, (v - offset) / scale,
// rounded for integers. Other values pass as they are. False with `error` for a number that
// can't be read.
bool unscaleWrite(const ValueType& type, const TagScaling& scaling, const std::string& text,
                  std::string& raw, std::string& error);

struct LineHealth {
    unsigned long cycles = 0;
    unsigned long failedCycles = 0;  // cycles with a failed tag
    unsigned long requests = 0;
    unsigned long failedRequests = 0;
    size_t tags = 0;
    size_t badTags = 0;       // in the last cycle
    double lastCycleMs = 0;   // the last cycle's time
    double intervalMs = 0;    // what it should take at most
    std::string lastError;    // the last failure's text, empty when none
};
std::string healthPayload(const LineHealth& health, std::chrono::system_clock::time_point time);

}  // namespace qarn
