#pragma once
// A tag address split into its fields, NODE?MEMTYPE?ADDRESS[.SUB]?TYPE, so that the commissioning
// commands can make new tags beside a given one: the next item of a range, another data type at
// the same register. The plug-in still judges every address it is given; this only splits and
// joins.

#include <optional>
#include <string>

namespace qarn {

struct TagAddress {
    std::string node;
    std::string area;
    long number = 0;         // the item number as written, e.g. 400001
    std::optional<int> sub;  // the part after the dot, when written
    std::string type;        // empty when the address was given without one

    // Splits "NODE?MEMTYPE?ADDRESS[.SUB][?TYPE]"; the type field is needed when `withType`.
    // Throws UsageError naming the address and what is wrong with it.
    static TagAddress parse(const std::string& text, bool withType);

    // "400001" or "400001.4".
    std::string position() const;
    // "NODE?MEMTYPE?ADDRESS[.SUB]" without the type.
    std::string place() const;
    // The whole address with `dataType` as its type field.
    std::string with(const std::string& dataType) const;
    // The data type without its conversions ("float(swap2)" gives "float"), and the conversion
    // list with its parentheses ("(swap2)"), empty when there is none.
    std::string baseType() const;
    std::string conversionPart() const;
};

}  // namespace qarn
