#include <qarn/rtu/LineSettings.h>

#include <algorithm>
#include <cctype>

namespace rtu {

namespace {

constexpr const char* ParityNames[] = {"none", "even", "odd", "mark"};

struct Speed {
    int baud;
    speed_t code;
};
constexpr Speed Speeds[] = {
    {1200, B1200},   {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},
    {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
};
static_assert(sizeof(Speeds) / sizeof(Speeds[0]) ==
                  sizeof(StandardBaudRates) / sizeof(StandardBaudRates[0]),
              "one termios speed per standard rate");

// Above this rate the line standard fixes the silence between frames instead of scaling it.
constexpr int FixedSilenceAboveBaud = 19200;
constexpr int64_t FixedSilenceUs = 1750;

}  // namespace

const char* parityName(int code) {
    return code >= 0 && code < 4 ? ParityNames[code] : "?";
}

bool parseParity(const std::string& text, Parity& parity) {
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (int code = 0; code < 4; ++code) {
        if (lower == ParityNames[code]) {
            parity = static_cast<Parity>(code);
            return true;
        }
    }
    return false;
}

bool isStandardBaud(int baud) {
    return termiosSpeed(baud) != B0;
}

speed_t termiosSpeed(int baud) {
    for (const Speed& s : Speeds) {
        if (s.baud == baud) {
            return s.code;
        }
    }
    return B0;
}

int64_t characterTimeUs(int baud, int dataBits, Parity parity, int stopBits) {
    const int bits = 1 + dataBits + (parity == Parity::None ? 0 : 1) + stopBits;
    return (static_cast<int64_t>(bits) * 1000000 + baud - 1) / baud;
}

int64_t threeAndHalfCharactersUs(int64_t characterUs) {
    return (characterUs * 7 + 1) / 2;
}

int64_t frameSilenceUs(int baud, int64_t characterUs) {
    return baud > FixedSilenceAboveBaud ? FixedSilenceUs : threeAndHalfCharactersUs(characterUs);
}

}  // namespace rtu
