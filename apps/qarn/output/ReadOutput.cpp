#include <qarn/output/ReadOutput.h>

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

}  // namespace

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
