#include <qarn/commission/TypeCatalogue.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include <qarn/host/DataTypes.h>
#include <qarn/host/IProtocol.h>
#include <qarn/host/ITag.h>
#include <qarn/toolkit/ValueCodec.h>

namespace qarn {

const char* const OfflineConfiguration =
    "CfgVer=1 uart=/dev/null baudrate=9600 parity=even bits=8 stopbits=1 mode=RS-485 "
    "defNodeId=1 model=GenericModbus";

namespace {

// Where the catalogue's example tags live: the first holding register and the first coil.
const char* const RegisterPlace = "1?HREG?400001?";
const char* const BitPlace = "1?OUTP?1?";

const struct {
    const char* name;
    const char* what;
} TypeTexts[] = {
    {"boolean", "one bit: a coil, a discrete input, or a bit of a register (ADDRESS.BIT)"},
    {"byte", "8-bit signed integer; ADDRESS.1 is the register's high byte"},
    {"short", "16-bit signed integer"},
    {"int", "32-bit signed integer"},
    {"unsignedByte", "8-bit unsigned integer; ADDRESS.1 is the register's high byte"},
    {"unsignedShort", "16-bit unsigned integer"},
    {"unsignedInt", "32-bit unsigned integer"},
    {"float", "32-bit IEEE 754 floating point"},
    {"double", "64-bit IEEE 754 floating point"},
    {"string-", "text of N bytes, read up to its first NUL"},
    {"binary-", "N bytes shown as hex digits"},
    {"time", "time stamp"},
    {"boolean-", "N bits"},
    {"uint64", "64-bit unsigned integer"},
    {"int64", "64-bit signed integer"},
    {"object", "object of the plug-in's own layout"},
};

const struct {
    const char* name;
    const char* what;
    const char* type;  // the tag type whose conversion is pictured
    bool letters;      // the picture shows byte letters, else register values
    bool hex;          // the example's value in hex too
    std::vector<uint16_t> example;
} ConversionTexts[] = {
    {"swap2", "reverses the bytes of every 2-byte group", "binary-4", true, false, {}},
    {"swap4", "reverses the bytes of every 4-byte group", "binary-4", true, false, {}},
    {"swap8", "reverses the bytes of every 8-byte group", "binary-8", true, false, {}},
    {"swapnibble",
     "swaps the two 4-bit halves of every byte",
     "unsignedShort",
     false,
     true,
     {0x1234}},
    {"bcd", "packed decimal: two digits a byte", "unsignedShort", false, false, {0x1234}},
    {"neg", "negates a signed or floating-point value", "short", false, false, {0x0005}},
    {"inv",
     "inverts every bit of an unsigned value or a bit",
     "unsignedShort",
     false,
     true,
     {0x00FF}},
};

const struct {
    const char* device;
    const char* dataType;
    std::vector<uint16_t> registers;
} Recipes[] = {
    {"32-bit integer, high word first", "int(swap2,swap4)", {0xFFFE, 0x1DC0}},
    {"32-bit unsigned integer, high word first", "unsignedInt(swap2,swap4)", {0x0001, 0xE240}},
    {"32-bit float, high word first", "float(swap2,swap4)", {0x4366, 0x8000}},
    {"32-bit float, low word first", "float", {0x8000, 0x4366}},
    {"64-bit float, high word first", "double(swap2,swap8)", {0x3FF8, 0x0000, 0x0000, 0x0000}},
    {"64-bit float, low word first", "double", {0x0000, 0x0000, 0x0000, 0x3FF8}},
    {"16-bit integer, low byte first", "unsignedShort(swap2)", {0x3412}},
    {"string, high byte first (the count before the conversions)",
     "string-8(swap2)",
     {0x4142, 0x4344, 0x4500, 0x0000}},
    {"string, low byte first", "string-8", {0x4241, 0x4443, 0x0045, 0x0000}},
};

// A tag on `protocol`, freed with the holder.
class Tag {
  public:
    Tag(IProtocol& protocol, const std::string& address)
        : protocol_(protocol), tag_(protocol.CreateTag(address.c_str())) {}
    ~Tag() {
        if (tag_ != nullptr) {
            protocol_.FreeTag(tag_);
        }
    }
    Tag(const Tag&) = delete;
    Tag& operator=(const Tag&) = delete;

    explicit operator bool() const { return tag_ != nullptr; }
    const ITag* operator->() const { return tag_; }
    ValueType type() const {
        return ValueType{tag_->GetVarType(), tag_->GetVarLength(), tag_->GetItemType()};
    }

  private:
    IProtocol& protocol_;
    ITag* tag_;
};

std::string lastError(const IProtocol& protocol) {
    const char* text = protocol.GetLastErrorString();
    return text != nullptr ? text : "refused";
}

std::string hex16(uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

std::string registerList(const std::vector<uint16_t>& registers) {
    std::string text;
    for (const uint16_t r : registers) {
        text += (text.empty() ? "" : " ") + hex16(r);
    }
    return text;
}

// The example type of an array or string row: two items of it.
std::string exampleType(const HostDataType& row) {
    const std::string name = row.name;
    return name.back() == '-' ? name + "2" : name;
}

std::string sizeText(const HostDataType& row) {
    const std::string name = row.name;
    if (row.type == ICU_BOOLEAN) {
        return "1 bit";
    }
    if (row.type == ICU_BOOLEAN_ARRAY) {
        return "N bits";
    }
    if (row.type == ICU_OBJECT) {
        return "-";
    }
    if (row.length == 0) {
        int item = 0;
        for (const HostDataType& r : HostDataTypes) {
            item = r.type == row.itemType ? r.length : item;
        }
        return item == 1 ? "N bytes" : "N x " + std::to_string(item) + " bytes";
    }
    std::string text = std::to_string(row.length) + (row.length == 1 ? " byte" : " bytes");
    if (row.length % 2 == 0) {
        const int registers = row.length / 2;
        text += ", " + std::to_string(registers) + (registers == 1 ? " register" : " registers");
    }
    return text;
}

std::string whatText(const HostDataType& row) {
    for (const auto& t : TypeTexts) {
        if (std::strcmp(t.name, row.name) == 0) {
            return t.what;
        }
    }
    const std::string name = row.name;
    if (name.back() == '-') {
        return "N items of " + name.substr(0, name.size() - 1);
    }
    return "";
}

// The picture of a byte-moving conversion: the bytes A, B, ... of a value, and where the
// conversion puts them; one group of letters a register.
std::string letterPicture(IProtocol& protocol, const std::string& type, const std::string& name) {
    const Tag tag(protocol, std::string(RegisterPlace) + type + "(" + name + ")");
    if (!tag) {
        return "(refused: " + lastError(protocol) + ")";
    }
    const int n = tag->GetVarLength();
    std::vector<uint8_t> raw(static_cast<size_t>(n));
    std::vector<uint8_t> value(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        raw[static_cast<size_t>(i)] = static_cast<uint8_t>('A' + i);
    }
    if (!tag->ConvertVariable(raw.data(), value.data(), false)) {
        return "(conversion refused)";
    }
    std::string before;
    std::string after;
    for (int i = 0; i < n; ++i) {
        const char* gap = i > 0 && i % 2 == 0 ? " " : "";
        before += gap + std::string(1, static_cast<char>(raw[static_cast<size_t>(i)]));
        after += gap + std::string(1, static_cast<char>(value[static_cast<size_t>(i)]));
    }
    return before + " -> " + after;
}

}  // namespace

bool decodeRegisters(IProtocol& protocol, const std::string& dataType,
                     const std::vector<uint16_t>& registers, std::string& text, bool hex) {
    // The registers become the raw image the way the plug-in makes it from an answer: through
    // a tag of plain registers, written towards the device.
    const Tag window(
        protocol, std::string(RegisterPlace) + "unsignedShort-" + std::to_string(registers.size()));
    const Tag tag(protocol, std::string(RegisterPlace) + dataType);
    if (!window || !tag) {
        text = lastError(protocol);
        return false;
    }
    std::vector<uint8_t> host(registers.size() * 2);
    std::memcpy(host.data(), registers.data(), host.size());
    std::vector<uint8_t> raw(static_cast<size_t>(std::max(window->PackedLen(), 0)));
    if (!window->ConvertVariable(host.data(), raw.data(), true) ||
        tag->PackedLen() > static_cast<int>(raw.size())) {
        text = "the registers do not hold a " + dataType;
        return false;
    }
    std::vector<uint8_t> value(static_cast<size_t>(std::max(tag->GetVarLength(), 1)));
    if (!tag->ConvertVariable(raw.data(), value.data(), false)) {
        text = "conversion error";
        return false;
    }
    const DecodedValue decoded = decodeValue(tag.type(), value.data(), value.size());
    text = toText(decoded, hex);
    if (decoded.shape == DecodedValue::Shape::Text) {
        text = "\"" + text + "\"";
    }
    return true;
}

TypeCatalogue buildTypeCatalogue(IProtocol& protocol) {
    TypeCatalogue catalogue;
    for (const HostDataType& row : HostDataTypes) {
        std::string name = row.name;
        if (name.back() == '-') {
            name += "N";
        }
        const std::string type = exampleType(row);
        std::string areas;
        if (Tag(protocol, BitPlace + type)) {
            areas = "bits";
        }
        if (Tag(protocol, RegisterPlace + type)) {
            areas += areas.empty() ? "registers" : ", registers";
        }
        catalogue.types.push_back(
            TypeEntry{name, sizeText(row), areas.empty() ? "-" : areas, whatText(row)});
    }
    for (const auto& c : ConversionTexts) {
        std::string picture;
        if (c.letters) {
            picture = letterPicture(protocol, c.type, c.name);
        } else {
            std::string value;
            const std::string dataType = std::string(c.type) + "(" + c.name + ")";
            picture = registerList(c.example) + " -> " +
                      (decodeRegisters(protocol, dataType, c.example, value, c.hex)
                           ? value + " as " + dataType
                           : "(" + value + ")");
        }
        catalogue.conversions.push_back(ConversionEntry{c.name, c.what, picture});
    }
    for (const auto& r : Recipes) {
        std::string value;
        const bool ok = decodeRegisters(protocol, r.dataType, r.registers, value);
        catalogue.recipes.push_back(
            Recipe{r.device, r.dataType,
                   registerList(r.registers) + " -> " + (ok ? value : "(" + value + ")")});
    }
    return catalogue;
}

}  // namespace qarn
