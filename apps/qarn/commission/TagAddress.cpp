#include <qarn/commission/TagAddress.h>

#include <cstdlib>
#include <vector>

#include <qarn/toolkit/Errors.h>

namespace qarn {

namespace {

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1) {
        parts.push_back(text.substr(start, at - start));
    }
    parts.push_back(text.substr(start));
    return parts;
}

bool parseNumber(const std::string& text, long& value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
        text.size() > 9) {
        return false;
    }
    value = std::strtol(text.c_str(), nullptr, 10);
    return true;
}

}  // namespace

TagAddress TagAddress::parse(const std::string& text, bool withType) {
    const std::vector<std::string> fields = split(text, '?');
    const std::string form = withType ? "NODE?MEMTYPE?ADDRESS?TYPE" : "NODE?MEMTYPE?ADDRESS";
    // Without `withType` a type field is taken too, and left to the caller.
    const bool fieldsOk = fields.size() == 4 || (!withType && fields.size() == 3);
    if (!fieldsOk) {
        throw UsageError("'" + text + "' is no tag address of the form " + form);
    }
    TagAddress a;
    a.node = fields[0];
    a.area = fields[1];
    if (fields.size() == 4) {
        a.type = fields[3];
    }
    if (a.node.empty() || a.area.empty() || (withType && a.type.empty())) {
        throw UsageError("'" + text + "' is no tag address of the form " + form);
    }
    const std::string& where = fields[2];
    const size_t dot = where.find('.');
    long sub = 0;
    if (!parseNumber(where.substr(0, dot), a.number) ||
        (dot != std::string::npos && !parseNumber(where.substr(dot + 1), sub))) {
        throw UsageError("'" + text + "': the address '" + where +
                         "' is no item number (ADDRESS or ADDRESS.SUB)");
    }
    if (dot != std::string::npos) {
        a.sub = static_cast<int>(sub);
    }
    return a;
}

std::string TagAddress::position() const {
    return std::to_string(number) + (sub ? "." + std::to_string(*sub) : "");
}

std::string TagAddress::place() const {
    return node + "?" + area + "?" + position();
}

std::string TagAddress::with(const std::string& dataType) const {
    return place() + "?" + dataType;
}

std::string TagAddress::baseType() const {
    return type.substr(0, type.find('('));
}

std::string TagAddress::conversionPart() const {
    const size_t open = type.find('(');
    return open == std::string::npos ? std::string() : type.substr(open);
}

}  // namespace qarn
