#pragma once
// Tag values as JSON: numbers, booleans, strings and lists.

#include <nlohmann/json.hpp>
#include <string>

#include <qarn/toolkit/ValueCodec.h>

namespace qarn {

// Integers and floats as numbers (NaN and infinity as null), booleans as booleans, text and
// binary as strings, arrays as lists.
nlohmann::json toJson(const DecodedValue& value);
// The integers as hex strings ("0x00FF"), a list for arrays; null for values without integers.
nlohmann::json hexJson(const DecodedValue& value);
// `indent` as for dump(); strings read from a device need not be valid UTF-8, so bad bytes are
// replaced instead of thrown at.
std::string jsonText(const nlohmann::json& json, int indent = -1);

}  // namespace qarn
