#pragma once
// Whether the line hands the master its own requests back. Many RS-485 adapters hear their own
// transmitter: every request comes back byte for byte ahead of the answer.

#include <string>

namespace refhost {

enum class EchoMode {
    Auto,  // find out from the first exchange whose echo differs from its answer
    On,    // the echo comes: strip it before the answer
    Off,   // no echo: whatever comes is the answer
};

// "auto", "on" or "off".
const char* echoModeName(EchoMode mode);
// Case-insensitive "auto", "on" or "off"; false for any other text.
bool parseEchoMode(const std::string& text, EchoMode& mode);

}  // namespace refhost
