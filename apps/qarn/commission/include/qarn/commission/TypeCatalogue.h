#pragma once
// What `qarn types` shows: the data types with their sizes and the areas that take them, the
// conversions with what each does, and recipes for the byte orders devices commonly use. The
// areas, the byte pictures and the recipes' example values are the plug-in's own answers, asked
// through a configured protocol instance (no line needed), so the catalogue can't drift from
// what the plug-in does.

#include <cstdint>
#include <string>
#include <vector>

class IProtocol;

namespace qarn {

struct TypeEntry {
    std::string name;   // as written in a tag address: "short", "string-N"
    std::string size;   // "2 bytes, 1 register", "N bytes", "1 bit"
    std::string areas;  // "registers", "bits, registers", or "-" when no area takes it
    std::string what;
};

struct ConversionEntry {
    std::string name;
    std::string what;
    std::string picture;  // the conversion at work, e.g. "AB CD -> BA DC"
};

struct Recipe {
    std::string device;    // how the device stores the value
    std::string dataType;  // what to write in the tag address
    std::string example;   // registers as the device sends them, and what the plug-in reads
};

struct TypeCatalogue {
    std::vector<TypeEntry> types;
    std::vector<ConversionEntry> conversions;
    std::vector<Recipe> recipes;
};

// A configuration the plug-in accepts without a line, for making tags that are never read.
extern const char* const OfflineConfiguration;

// Asks `protocol` (configured, not necessarily started) for every answer of the catalogue.
TypeCatalogue buildTypeCatalogue(IProtocol& protocol);

// What the plug-in reads from `registers` (as the device sends them) with `dataType`, as text;
// false with the plug-in's reason when it refuses the type or the conversion. `hex`: integers in
// hex too.
bool decodeRegisters(IProtocol& protocol, const std::string& dataType,
                     const std::vector<uint16_t>& registers, std::string& text, bool hex = false);

}  // namespace qarn
