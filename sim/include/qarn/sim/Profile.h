#pragma once
// A device profile: what memory a simulated slave has, its starting values, which values live
// (change with the simulated time) and which line framing it speaks. Profiles come from a small
// text format; the built-in device models are written in the same format.
//
// Profile text, one statement per line, '#' starts a comment:
//
//   framing rtu|ismg                  ismg: every frame wrapped in 0x0A ... 0x0D, and the
//                                     slave-address frame is understood (default rtu)
//   AREA ADDRESS[..LAST] [TYPE] VALUE [OPTION ...]
//
//   AREA     coil | input | hreg | ireg (coils, discrete inputs, holding, input registers)
//   ADDRESS  1-based item number 1..65536, or the 6-digit form with the area digit in front
//            (coil 000001, input 100001, ireg 300001, hreg 400001 = the area's first item);
//            ADDRESS..LAST fills a range with one value per TYPE width
//   TYPE     bit (coil, input; the default there) or uint16 (the register default), int16,
//            uint32, int32, float32; 32-bit types take two registers, high word first
//   VALUE    a number, or "index" (each item holds its own 0-based number; bits its lowest bit)
//   OPTION   ro            coil or hreg item that the master may not write
//            lsw           32-bit value with its low word first
//            rate R        adds R per second of simulated time (counters)
//            wave A P      adds a sine of amplitude A and period P seconds
//            noise N       adds a pseudo-random offset in [-N, N], new every second
//
// Later statements override earlier ones for the same items. Items not mentioned do not exist:
// the device answers a request touching them with exception 2. Input areas are read-only.
// Example:  hreg 400001 uint16 230   /   coil 1 1   /   ireg 300011 uint32 0 rate 2.5

#include <cstdint>
#include <istream>
#include <stdexcept>
#include <string>
#include <vector>

#include "DataMap.h"

namespace sim {

enum class ValueType : uint8_t { Bit, UInt16, Int16, UInt32, Int32, Float32 };

// Registers (or bits) one value of the type takes.
uint32_t widthOf(ValueType type);

struct ProfileEntry {
    Area area = Area::HoldingRegisters;
    uint32_t first = 0;  // 0-based item number
    uint32_t count = 1;  // items covered, a multiple of the type's width
    ValueType type = ValueType::UInt16;
    double value = 0;
    bool indexValue = false;  // VALUE was "index"
    bool writable = true;
    bool lowWordFirst = false;
    double rate = 0;
    double waveAmplitude = 0;
    double wavePeriod = 0;  // seconds
    double noise = 0;

    bool live() const { return rate != 0 || waveAmplitude != 0 || noise != 0; }
};

struct Profile {
    std::string name;
    bool ismgFraming = false;
    std::vector<ProfileEntry> entries;
};

// Raised for a profile that cannot be used; the text names the source and line.
class ProfileError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Parses profile text; `name` is used in error messages ("name:line: ...").
Profile parseProfile(std::istream& in, const std::string& name);
Profile parseProfile(const std::string& text, const std::string& name);

// Names of the built-in profiles: the device models and "generic" (GenericModbus).
const std::vector<std::string>& builtinProfileNames();
// The text of a built-in profile, or empty when `name` (case-insensitive) names none.
std::string builtinProfileText(const std::string& name);

// A built-in profile by name, or else a profile file by path.
Profile loadProfile(const std::string& nameOrPath);

}  // namespace sim
