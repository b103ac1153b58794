#pragma once
// Reading and changing single values of a configuration string ("CfgVer=1 uart=... baudrate=9600
// ..."), e.g. to probe with a short time-out or at other line settings.

#include <string>

namespace qarn {

// The value of `key` (not node-prefixed); empty when the string has none.
std::string configValue(const std::string& config, const std::string& key);

// The string with every `key=` item, node-prefixed ones ("Node3::key=") included, set to
// `value`, and `key=value` appended when there was no unprefixed one. Items are joined by single
// blanks, so the result is one line, ready for --config.
std::string withConfigValue(const std::string& config, const std::string& key,
                            const std::string& value);

}  // namespace qarn
