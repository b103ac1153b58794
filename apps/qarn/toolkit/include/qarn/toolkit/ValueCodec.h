#pragma once
// Host values of tags as people read and write them: text to the bytes of a tag's host value and
// back, by the tag's data type.
//
//   integers   decimal, or 0x-hex (without a sign: the bit pattern of the type's width)
//   floats     decimal or exponent notation, nan, inf
//   boolean    0, 1, true, false
//   string-N   text, padded with NULs to N bytes; read back up to the first NUL
//   binary-N   hex digits, two per byte (also time, time-N, object)
//   arrays     comma lists of their elements

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <qarn/host/HostTypes.h>

namespace qarn {

// What the tool needs to know of a tag's value: its ITag's type, length and item type.
struct ValueType {
    ICU_Type type;
    int length;  // GetVarLength(): bytes, or bits for the bit types
    ICU_Type itemType;
};

// One element of a decoded value.
struct Element {
    enum Kind { Bool, Signed, Unsigned, Real } kind;
    int64_t i = 0;
    uint64_t u = 0;  // Bool and Unsigned
    double d = 0;
    int bytes = 0;  // width, for hex and for the shortest float form

    bool isInteger() const { return kind == Signed || kind == Unsigned; }
    // The bit pattern of an integer in hex, all digits of its width: "0x00FF".
    std::string hex() const;
};

struct DecodedValue {
    enum class Shape { Scalar, Array, Text, Binary } shape;
    std::vector<Element> items;  // Scalar (one) and Array
    std::string text;            // Text: the string up to its NUL; Binary: hex digits
};

// Bytes of the host value of a tag of this type (one per bit for the bit types).
size_t hostValueSize(const ValueType& type);
// The data-type string of a tag, e.g. "unsignedShort", "string-20", "int-5".
std::string typeName(const ValueType& type);

DecodedValue decodeValue(const ValueType& type, const uint8_t* value, size_t size);
// Text form: arrays as comma lists; with `hex`, integers also in hex, e.g. "4660 (0x1234)".
std::string toText(const DecodedValue& value, bool hex);
// The integers in hex as a comma list ("0x1234,0x0001"); empty for other values.
std::string hexText(const DecodedValue& value);

// Parses `text` into the host value of a tag of this type; false with a message for a value
// that does not fit (nothing of `out` is then to be used).
bool encodeValue(const ValueType& type, const std::string& text, std::vector<uint8_t>& out,
                 std::string& error);

}  // namespace qarn
