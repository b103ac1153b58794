#include <qarn/output/ReadOutput.h>

#include <cstdio>

#include <qarn/toolkit/Errors.h>
#include "CsvField.h"
#include <qarn/output/ValueJson.h>

namespace qarn {

namespace {

void printJson(const std::vector<TagReading>& readings, bool hex, std::ostream& out) {
    nlohmann::json list = nlohmann::json::array();
    for (const TagReading& r : readings) {
        nlohmann::json item{{"tag", r.tag}};
        if (r.ok) {
            item["type"] = r.type;
            item["value"] = toJson(r.value);
            const nlohmann::json hexValue = hexJson(r.value);
            if (hex && !hexValue.is_null()) {
                item["hex"] = hexValue;
            }
        } else {
            item["error"] = {{"code", r.code}, {"text", r.text}};
        }
        list.push_back(item);
    }
    out << jsonText(list, 2) << "\n";
}

void printCsv(const std::vector<TagReading>& readings, bool hex, std::ostream& out) {
    out << "tag,type,value" << (hex ? ",hex" : "") << ",error\n";
    for (const TagReading& r : readings) {
        out << csvField(r.tag) << "," << r.type << ","
            << csvField(r.ok ? toText(r.value, false) : "");
        if (hex) {
            out << "," << csvField(r.ok ? hexText(r.value) : "");
        }
        out << "," << csvField(r.ok ? "" : r.message()) << "\n";
    }
}

std::string hexText(const RangeItem& item) {
    std::string text;
    char digits[8];
    for (const uint16_t r : item.registers) {
        std::snprintf(digits, sizeof digits, "%04X", r);
        text += (text.empty() ? "" : " ") + std::string(digits);
    }
    for (const uint8_t b : item.bytes) {
        std::snprintf(digits, sizeof digits, "%02X", b);
        text += (text.empty() ? "" : " ") + std::string(digits);
    }
    return text;
}

// Integers and bits are numbers in JSON; floats keep their shortest text, strings their text.
Cell valueCell(const RangeItem& item) {
    if (!item.ok) {
        return Cell();
    }
    if (item.value.shape == DecodedValue::Shape::Scalar && item.value.items.size() == 1) {
        const Element& e = item.value.items[0];
        if (e.kind == Element::Signed) {
            return Cell(static_cast<long long>(e.i));
        }
        if ((e.kind == Element::Unsigned || e.kind == Element::Bool) &&
            e.u <= 0x7FFFFFFFFFFFFFFFULL) {
            return Cell(static_cast<long long>(e.u));
        }
    }
    return Cell(valueText(item.value, false));
}

char printable(unsigned value) {
    return value >= 0x20 && value < 0x7F ? static_cast<char>(value) : '.';
}

}  // namespace

std::string valueText(const DecodedValue& value, bool quoted) {
    const std::string text = toText(value, false);
    if (value.shape != DecodedValue::Shape::Text) {
        return text;
    }
    std::string out = quoted ? "\"" : "";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x80) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    return quoted ? out + "\"" : out;
}

Records rangeRecords(const std::vector<RangeItem>& items, bool sixteenBit, bool withError) {
    std::vector<std::string> columns = {"address", "hex", "value"};
    if (sixteenBit) {
        columns.insert(columns.end(), {"unsigned", "signed", "ascii"});
    }
    if (withError) {
        columns.push_back("error");
    }
    Records records(columns);
    for (const RangeItem& item : items) {
        if (!item.read) {
            continue;
        }
        const std::string hex = item.ok ? hexText(item) : std::string();
        std::vector<Cell> row = {item.position, hex.empty() ? Cell() : Cell(hex), valueCell(item)};
        if (sixteenBit) {
            if (item.ok && item.registers.size() == 1) {
                const unsigned r = item.registers[0];
                const int signedValue =
                    r >= 0x8000 ? static_cast<int>(r) - 0x10000 : static_cast<int>(r);
                row.insert(row.end(), {Cell(static_cast<int>(r)), Cell(signedValue),
                                       Cell(std::string{printable(r >> 8), printable(r & 0xFF)})});
            } else {
                row.insert(row.end(), {Cell(), Cell(), Cell()});
            }
        }
        if (withError) {
            row.push_back(item.ok ? Cell() : Cell(item.error));
        }
        records.add(std::move(row));
    }
    return records;
}

ReadFormat readFormat(const std::string& name) {
    if (name == "text") {
        return ReadFormat::Text;
    }
    if (name == "json") {
        return ReadFormat::Json;
    }
    if (name == "csv") {
        return ReadFormat::Csv;
    }
    throw UsageError("--format must be text, json or csv, not '" + name + "'");
}

void printReadings(const std::vector<TagReading>& readings, ReadFormat format, bool hex,
                   std::ostream& out, std::ostream& err) {
    switch (format) {
        case ReadFormat::Json:
            printJson(readings, hex, out);
            return;
        case ReadFormat::Csv:
            printCsv(readings, hex, out);
            return;
        case ReadFormat::Text:
            break;
    }
    for (const TagReading& r : readings) {
        if (r.ok) {
            out << r.tag << " = " << toText(r.value, hex) << "\n";
        } else {
            err << "qarn: " << r.tag << ": " << r.message() << "\n";
        }
    }
}

}  // namespace qarn
