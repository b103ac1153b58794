#include <qarn/mqtt/Payload.h>

#include <cmath>
#include <nlohmann/json.hpp>

#include <qarn/output/PollFormats.h>

namespace qarn {

namespace {

nlohmann::json elementJson(const Element& e, const TagScaling& scaling) {
    if (e.kind == Element::Bool) {
        return e.u != 0;
    }
    if (scaling.scaled()) {
        const double raw = e.kind == Element::Signed     ? static_cast<double>(e.i)
                           : e.kind == Element::Unsigned ? static_cast<double>(e.u)
                                                         : e.d;
        const double v = raw * scaling.scale.value_or(1.0) + scaling.offset.value_or(0.0);
        return std::isfinite(v) ? nlohmann::json(v) : nlohmann::json();
    }
    switch (e.kind) {
        case Element::Signed:
            return e.i;
        case Element::Unsigned:
            return e.u;
        default:
            return std::isfinite(e.d) ? nlohmann::json(e.d) : nlohmann::json();
    }
}

nlohmann::json valueJson(const DecodedValue& value, const TagScaling& scaling) {
    switch (value.shape) {
        case DecodedValue::Shape::Scalar:
            return value.items.empty() ? nlohmann::json() : elementJson(value.items[0], scaling);
        case DecodedValue::Shape::Array: {
            nlohmann::json list = nlohmann::json::array();
            for (const Element& e : value.items) {
                list.push_back(elementJson(e, scaling));
            }
            return list;
        }
        default:
            return value.text;
    }
}

// Device strings need not be UTF-8; bad bytes are replaced rather than thrown at.
std::string dump(const nlohmann::json& j) {
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

Payload tagPayload(const ValueType& type, const TagResult& result, const TagScaling& scaling) {
    nlohmann::json j;
    if (result.ok) {
        j["value"] = valueJson(decodeValue(type, result.value.data(), result.value.size()),
                               scaling);
        j["ok"] = true;
    } else {
        j["value"] = nullptr;
        j["ok"] = false;
        j["error"] = "error " + std::to_string(result.code) + ": " + result.text;
    }
    if (!scaling.unit.empty()) {
        j["unit"] = scaling.unit;
    }
    Payload p;
    p.subject = dump(j);
    j["time"] = isoTime(result.time);
    p.text = dump(j);
    return p;
}

std::string writeResultPayload(bool ok, const std::string& valueOrError,
                               std::chrono::system_clock::time_point time) {
    nlohmann::json j;
    j["ok"] = ok;
    j[ok ? "value" : "error"] = valueOrError;
    j["time"] = isoTime(time);
    return dump(j);
}

bool unscaleWrite(const ValueType& type, const TagScaling& scaling, const std::string& text,
                  std::string& raw, std::string& error) {
    raw = text;
    // Scalars only: arrays take comma lists, which are written as given.
    const bool integer = (type.type >= ICU_BYTE && type.type <= ICU_UNSIGNED_INT) ||
                         type.type == ICU_UINT64 || type.type == ICU_INT64;
    const bool numeric = integer || type.type == ICU_FLOAT || type.type == ICU_DOUBLE;
    if (!scaling.scaled() || !numeric) {
        return true;
    }
    size_t used = 0;
    double v = 0;
    try {
        v = std::stod(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size() || !std::isfinite(v)) {
        error = "'" + text + "' is not a number";
        return false;
    }
    const double scale = scaling.scale.value_or(1.0);
    const double r = (v - scaling.offset.value_or(0.0)) / scale;
    if (integer) {
        raw = std::to_string(static_cast<long long>(std::llround(r)));
    } else {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.17g", r);
        raw = buf;
    }
    return true;
}

std::string healthPayload(const LineHealth& h, std::chrono::system_clock::time_point time) {
    nlohmann::json j;
    j["cycles"] = h.cycles;
    j["failed_cycles"] = h.failedCycles;
    j["requests"] = h.requests;
    j["failed_requests"] = h.failedRequests;
    j["tags"] = h.tags;
    j["bad_tags"] = h.badTags;
    j["cycle_ms"] = h.lastCycleMs;
    j["interval_ms"] = h.intervalMs;
    if (!h.lastError.empty()) {
        j["last_error"] = h.lastError;
    }
    j["time"] = isoTime(time);
    return dump(j);
}

}  // namespace qarn
