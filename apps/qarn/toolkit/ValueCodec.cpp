#include <qarn/toolkit/ValueCodec.h>

#include <algorithm>
#include <cctype>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include <qarn/host/DataTypes.h>

namespace qarn {

namespace {

const HostDataType* row(ICU_Type t) {
    for (const HostDataType& r : HostDataTypes) {
        if (r.type == t) {
            return &r;
        }
    }
    return nullptr;
}

const char* scalarName(ICU_Type t) {
    const HostDataType* r = row(t);
    return r != nullptr ? r->name : "?";
}

// What the codec adds to the host's table: how the elements of each scalar type are read and
// written. Types not listed here (time, object) are shown as hex digits.
struct ScalarKind {
    ICU_Type type;
    Element::Kind kind;
};
constexpr ScalarKind ScalarKinds[] = {
    {ICU_BOOLEAN, Element::Bool},
    {ICU_BYTE, Element::Signed},
    {ICU_SHORT, Element::Signed},
    {ICU_INT, Element::Signed},
    {ICU_INT64, Element::Signed},
    {ICU_UNSIGNED_BYTE, Element::Unsigned},
    {ICU_UNSIGNED_SHORT, Element::Unsigned},
    {ICU_UNSIGNED_INT, Element::Unsigned},
    {ICU_UINT64, Element::Unsigned},
    {ICU_FLOAT, Element::Real},
    {ICU_DOUBLE, Element::Real},
};

// Element kind and width of a scalar type; false for the kinds shown as hex.
bool elementOf(ICU_Type t, Element::Kind& kind, int& bytes) {
    for (const ScalarKind& k : ScalarKinds) {
        if (k.type == t) {
            kind = k.kind;
            bytes = row(t)->length;
            return true;
        }
    }
    return false;
}

DecodedValue::Shape shapeOf(const ValueType& type) {
    Element::Kind kind = Element::Bool;
    int bytes = 0;
    if (type.type == ICU_STRING) {
        return DecodedValue::Shape::Text;
    }
    if (type.itemType != ICU_NONE && elementOf(type.itemType, kind, bytes) &&
        type.type != ICU_BINARY) {
        return DecodedValue::Shape::Array;
    }
    if (type.itemType == ICU_NONE && elementOf(type.type, kind, bytes)) {
        return DecodedValue::Shape::Scalar;
    }
    return DecodedValue::Shape::Binary;
}

// Element type and count of an array or scalar value.
ICU_Type elementType(const ValueType& type) {
    return type.itemType != ICU_NONE ? type.itemType : type.type;
}

size_t elementCount(const ValueType& type) {
    if (type.itemType == ICU_NONE) {
        return 1;
    }
    if (type.itemType == ICU_BOOLEAN) {
        return static_cast<size_t>(std::max(type.length, 0));
    }
    const HostDataType* r = row(type.itemType);
    return r != nullptr && r->length > 0
               ? static_cast<size_t>(std::max(type.length, 0)) / static_cast<size_t>(r->length)
               : 0;
}

uint64_t loadUnsigned(const uint8_t* p, int bytes) {
    switch (bytes) {
        case 1:
            return *p;
        case 2: {
            uint16_t v;
            std::memcpy(&v, p, 2);
            return v;
        }
        case 4: {
            uint32_t v;
            std::memcpy(&v, p, 4);
            return v;
        }
        default: {
            uint64_t v;
            std::memcpy(&v, p, 8);
            return v;
        }
    }
}

void storeUnsigned(uint8_t* p, int bytes, uint64_t value) {
    switch (bytes) {
        case 1:
            *p = static_cast<uint8_t>(value);
            break;
        case 2: {
            const auto v = static_cast<uint16_t>(value);
            std::memcpy(p, &v, 2);
            break;
        }
        case 4: {
            const auto v = static_cast<uint32_t>(value);
            std::memcpy(p, &v, 4);
            break;
        }
        default:
            std::memcpy(p, &value, 8);
            break;
    }
}

uint64_t maskOf(int bytes) {
    return bytes >= 8 ? std::numeric_limits<uint64_t>::max() : (uint64_t{1} << (8 * bytes)) - 1;
}

Element decodeElement(ICU_Type t, const uint8_t* p) {
    Element e{};
    elementOf(t, e.kind, e.bytes);
    switch (e.kind) {
        case Element::Bool:
            e.u = *p != 0 ? 1 : 0;
            break;
        case Element::Unsigned:
            e.u = loadUnsigned(p, e.bytes);
            break;
        case Element::Signed: {
            const uint64_t raw = loadUnsigned(p, e.bytes);
            const int shift = 64 - 8 * e.bytes;
            // Sign-extend through the top bits; shifting a negative value right is arithmetic.
            e.i = static_cast<int64_t>(raw << shift) >> shift;
            break;
        }
        case Element::Real:
            if (e.bytes == 4) {
                float f;
                std::memcpy(&f, p, 4);
                e.d = f;
            } else {
                std::memcpy(&e.d, p, 8);
            }
            break;
    }
    return e;
}

std::string hexDigits(const uint8_t* p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 0x0F];
    }
    return out;
}

std::string elementText(const Element& e) {
    switch (e.kind) {
        case Element::Bool:
        case Element::Unsigned:
            return std::to_string(e.u);
        case Element::Signed:
            return std::to_string(e.i);
        case Element::Real: {
            char buf[64];
            const auto r = e.bytes == 4
                               ? std::to_chars(buf, buf + sizeof buf, static_cast<float>(e.d))
                               : std::to_chars(buf, buf + sizeof buf, e.d);
            return std::string(buf, r.ptr);
        }
    }
    return std::string();
}

std::string trim(const std::string& s) {
    const size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) {
        return std::string();
    }
    const size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string rangeText(ICU_Type t, bool isSigned, int bytes) {
    if (isSigned) {
        const int64_t max = static_cast<int64_t>(maskOf(bytes) >> 1);
        return std::string(scalarName(t)) + " (" + std::to_string(-max - 1) + " to " +
               std::to_string(max) + ")";
    }
    return std::string(scalarName(t)) + " (0 to " + std::to_string(maskOf(bytes)) + ")";
}

// Integers in decimal or 0x-hex with an optional sign. Unsigned hex is taken as the bit
// pattern of the type's width, so 0xFFFF is a valid short (-1).
bool parseInteger(ICU_Type t, const std::string& text, uint64_t& pattern, std::string& error) {
    Element::Kind kind = Element::Bool;
    int bytes = 0;
    elementOf(t, kind, bytes);
    const bool isSigned = kind == Element::Signed;
    const std::string s = trim(text);
    size_t pos = 0;
    bool negative = false;
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        negative = s[0] == '-';
        pos = 1;
    }
    const bool hex =
        s.size() > pos + 1 && s[pos] == '0' && (s[pos + 1] == 'x' || s[pos + 1] == 'X');
    if (hex) {
        pos += 2;
    }
    if (pos == s.size()) {
        error = "'" + text + "' is not an integer";
        return false;
    }
    uint64_t magnitude = 0;
    bool overflow = false;
    for (size_t i = pos; i < s.size(); ++i) {
        const char c = s[i];
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (hex && std::isxdigit(static_cast<unsigned char>(c)) != 0) {
            digit = std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
        } else {
            error = "'" + text + "' is not an integer";
            return false;
        }
        const uint64_t base = hex ? 16 : 10;
        if (magnitude >
            (std::numeric_limits<uint64_t>::max() - static_cast<uint64_t>(digit)) / base) {
            overflow = true;
        }
        magnitude = magnitude * base + static_cast<uint64_t>(digit);
    }
    const uint64_t mask = maskOf(bytes);
    bool fits;
    if (overflow) {
        fits = false;
    } else if (hex && !negative) {
        fits = magnitude <= mask;
        pattern = magnitude;
    } else if (!isSigned) {
        fits = (!negative || magnitude == 0) && magnitude <= mask;
        pattern = magnitude;
    } else if (negative) {
        fits = magnitude <= (mask >> 1) + 1;
        pattern = (~magnitude + 1) & mask;
    } else {
        fits = magnitude <= mask >> 1;
        pattern = magnitude;
    }
    if (!fits) {
        error = trim(text) + " does not fit " + rangeText(t, isSigned, bytes);
        return false;
    }
    return true;
}

bool parseBool(const std::string& text, uint8_t& bit, std::string& error) {
    const std::string s = lower(trim(text));
    if (s == "1" || s == "true") {
        bit = 1;
        return true;
    }
    if (s == "0" || s == "false") {
        bit = 0;
        return true;
    }
    error = "'" + text + "' is not a boolean (0, 1, true or false)";
    return false;
}

bool parseReal(ICU_Type t, const std::string& text, uint8_t* out, std::string& error) {
    const std::string s = trim(text);
    double value = 0;
    const char* begin = s.data();
    if (!s.empty() && s[0] == '+') {
        ++begin;  // from_chars takes no plus sign
    }
    const auto r = std::from_chars(begin, s.data() + s.size(), value);
    if (s.empty() || r.ec == std::errc::invalid_argument || r.ptr != s.data() + s.size()) {
        error = "'" + text + "' is not a number";
        return false;
    }
    if (r.ec == std::errc::result_out_of_range) {
        error = s + " does not fit " + scalarName(t);
        return false;
    }
    if (t == ICU_FLOAT) {
        if (std::isfinite(value) && std::fabs(value) > FLT_MAX) {
            error = s + " does not fit float";
            return false;
        }
        const auto f = static_cast<float>(value);
        std::memcpy(out, &f, 4);
    } else {
        std::memcpy(out, &value, 8);
    }
    return true;
}

bool parseElement(ICU_Type t, const std::string& text, uint8_t* out, std::string& error) {
    Element::Kind kind = Element::Bool;
    int bytes = 0;
    elementOf(t, kind, bytes);
    switch (kind) {
        case Element::Bool:
            return parseBool(text, *out, error);
        case Element::Real:
            return parseReal(t, text, out, error);
        default: {
            uint64_t pattern = 0;
            if (!parseInteger(t, text, pattern, error)) {
                return false;
            }
            storeUnsigned(out, bytes, pattern);
            return true;
        }
    }
}

std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        parts.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) {
            return parts;
        }
        start = comma + 1;
    }
}

bool parseHex(const std::string& text, size_t bytes, const std::string& name,
              std::vector<uint8_t>& out, std::string& error) {
    std::string digits;
    std::string s = trim(text);
    if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        s.erase(0, 2);
    }
    for (const char c : s) {
        if (std::isxdigit(static_cast<unsigned char>(c)) != 0) {
            digits += c;
        } else if (c != ' ' && c != ':') {
            error = "'" + text + "' is not hex (" + name + " takes " + std::to_string(2 * bytes) +
                    " hex digits)";
            return false;
        }
    }
    if (digits.size() != 2 * bytes) {
        error = name + " takes " + std::to_string(2 * bytes) + " hex digits, got " +
                std::to_string(digits.size());
        return false;
    }
    for (size_t i = 0; i < bytes; ++i) {
        out[i] = static_cast<uint8_t>(std::stoi(digits.substr(2 * i, 2), nullptr, 16));
    }
    return true;
}

}  // namespace

std::string Element::hex() const {
    static const char digits[] = "0123456789ABCDEF";
    const uint64_t pattern = (kind == Signed ? static_cast<uint64_t>(i) : u) & maskOf(bytes);
    std::string out = "0x";
    for (int nibble = 2 * bytes - 1; nibble >= 0; --nibble) {
        out += digits[(pattern >> (4 * nibble)) & 0x0F];
    }
    return out;
}

size_t hostValueSize(const ValueType& type) {
    return static_cast<size_t>(std::max(type.length, 0));
}

std::string typeName(const ValueType& type) {
    const HostDataType* r = row(type.type);
    if (r == nullptr) {
        return "type " + std::to_string(static_cast<int>(type.type));
    }
    std::string name = r->name;
    if (r->length == 0 && type.type != ICU_OBJECT) {
        name += std::to_string(elementCount(type));
    }
    return name;
}

DecodedValue decodeValue(const ValueType& type, const uint8_t* value, size_t size) {
    DecodedValue out{shapeOf(type), {}, {}};
    const size_t length = std::min(hostValueSize(type), size);
    switch (out.shape) {
        case DecodedValue::Shape::Text:
            out.text.assign(reinterpret_cast<const char*>(value),
                            std::find(value, value + length, 0) - value);
            break;
        case DecodedValue::Shape::Binary:
            out.text = hexDigits(value, length);
            break;
        case DecodedValue::Shape::Scalar:
        case DecodedValue::Shape::Array: {
            const ICU_Type t = elementType(type);
            Element::Kind kind = Element::Bool;
            int bytes = 0;
            elementOf(t, kind, bytes);
            const size_t count = out.shape == DecodedValue::Shape::Scalar ? 1 : elementCount(type);
            for (size_t i = 0; i < count && (i + 1) * static_cast<size_t>(bytes) <= length; ++i) {
                out.items.push_back(decodeElement(t, value + i * static_cast<size_t>(bytes)));
            }
            break;
        }
    }
    return out;
}

std::string toText(const DecodedValue& value, bool hex) {
    switch (value.shape) {
        case DecodedValue::Shape::Binary:
            return value.text;
        case DecodedValue::Shape::Text: {
            // Control characters would garble the terminal: shown as \xNN.
            std::string out;
            for (const char c : value.text) {
                const auto u = static_cast<unsigned char>(c);
                if (u < 0x20 || u == 0x7F) {
                    static const char digits[] = "0123456789ABCDEF";
                    out += "\\x";
                    out += digits[u >> 4];
                    out += digits[u & 0x0F];
                } else {
                    out += c;
                }
            }
            return out;
        }
        default:
            break;
    }
    std::string text;
    for (size_t i = 0; i < value.items.size(); ++i) {
        text += (i != 0 ? "," : "") + elementText(value.items[i]);
    }
    const std::string hexList = hex ? hexText(value) : std::string();
    return hexList.empty() ? text : text + " (" + hexList + ")";
}

std::string hexText(const DecodedValue& value) {
    std::string text;
    for (size_t i = 0; i < value.items.size(); ++i) {
        if (!value.items[i].isInteger()) {
            return std::string();
        }
        text += (i != 0 ? "," : "") + value.items[i].hex();
    }
    return text;
}

bool encodeValue(const ValueType& type, const std::string& text, std::vector<uint8_t>& out,
                 std::string& error) {
    const size_t size = hostValueSize(type);
    out.assign(size, 0);
    const std::string name = typeName(type);
    switch (shapeOf(type)) {
        case DecodedValue::Shape::Text:
            if (text.size() > size) {
                error = "text of " + std::to_string(text.size()) + " bytes does not fit " + name;
                return false;
            }
            std::copy(text.begin(), text.end(), out.begin());
            return true;
        case DecodedValue::Shape::Binary:
            return parseHex(text, size, name, out, error);
        case DecodedValue::Shape::Scalar:
            return parseElement(type.type, text, out.data(), error);
        case DecodedValue::Shape::Array: {
            const ICU_Type t = elementType(type);
            Element::Kind kind = Element::Bool;
            int bytes = 0;
            elementOf(t, kind, bytes);
            const std::vector<std::string> parts = splitList(text);
            const size_t count = elementCount(type);
            if (parts.size() != count) {
                error = name + " takes " + std::to_string(count) + " values, got " +
                        std::to_string(parts.size());
                return false;
            }
            for (size_t i = 0; i < count; ++i) {
                if (!parseElement(t, parts[i], out.data() + i * static_cast<size_t>(bytes),
                                  error)) {
                    error = "element " + std::to_string(i + 1) + ": " + error;
                    return false;
                }
            }
            return true;
        }
    }
    return false;
}

}  // namespace qarn
