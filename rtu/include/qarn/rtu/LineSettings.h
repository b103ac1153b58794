#pragma once
// Serial line facts that every host-side part shares: the parity codes and names, the baud rates
// a line may run at, and the character and silence times that follow from them.

#include <termios.h>

#include <cstdint>
#include <iterator>
#include <string>

namespace rtu {

// The codes match the parity argument of the host's ISerialPort::Setup.
enum class Parity : int { None = 0, Even = 1, Odd = 2, Mark = 3 };

// "none", "even", "odd" or "mark"; "?" for a code outside the four.
const char* parityName(int code);
// Case-insensitive; false when the text names none of the four.
bool parseParity(const std::string& text, Parity& parity);

// The rates a line may run at, lowest first; every host-side part accepts exactly these.
constexpr int StandardBaudRates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};
constexpr int LowestStandardBaud = StandardBaudRates[0];
constexpr int HighestStandardBaud = StandardBaudRates[std::size(StandardBaudRates) - 1];
bool isStandardBaud(int baud);
// The termios speed of a standard rate; B0 for any other.
speed_t termiosSpeed(int baud);

// One character on the line: start bit, data bits, the parity bit unless parity is none, stop
// bits; in microseconds, rounded up.
int64_t characterTimeUs(int baud, int dataBits, Parity parity, int stopBits);
// 3.5 character times, rounded up.
int64_t threeAndHalfCharactersUs(int64_t characterUs);
// The silence that ends a frame: 3.5 character times, fixed at 1750 us above 19200 baud.
int64_t frameSilenceUs(int baud, int64_t characterUs);

}  // namespace rtu
