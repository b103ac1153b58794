#include <qarn/output/Records.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include <qarn/toolkit/Errors.h>
#include "CsvField.h"
#include <qarn/output/ValueJson.h>

namespace qarn {

RecordFormat recordFormat(const std::string& name) {
    if (name == "table" || name == "text") {
        return RecordFormat::Table;
    }
    if (name == "csv") {
        return RecordFormat::Csv;
    }
    if (name == "json") {
        return RecordFormat::Json;
    }
    throw UsageError("--format must be table, csv or json, not '" + name + "'");
}

std::string Cell::text() const {
    if (const auto* n = std::get_if<long long>(&value_)) {
        return std::to_string(*n);
    }
    if (const auto* d = std::get_if<double>(&value_)) {
        if (!std::isfinite(*d)) {
            return std::isnan(*d) ? "nan" : (*d > 0 ? "inf" : "-inf");
        }
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.*f", decimals_, *d);
        return buffer;
    }
    if (const auto* b = std::get_if<bool>(&value_)) {
        return *b ? "yes" : "no";
    }
    if (const auto* s = std::get_if<std::string>(&value_)) {
        return *s;
    }
    return "";
}

std::string Cell::json() const {
    if (const auto* d = std::get_if<double>(&value_)) {
        // The number as the table shows it, so that both agree to the last digit.
        return std::isfinite(*d) ? text() : "null";
    }
    if (const auto* b = std::get_if<bool>(&value_)) {
        return *b ? "true" : "false";
    }
    if (const auto* s = std::get_if<std::string>(&value_)) {
        return jsonText(nlohmann::json(*s));
    }
    return empty() ? "null" : text();
}

void Records::add(std::vector<Cell> row) {
    if (row.size() != columns_.size()) {
        throw std::invalid_argument("a row needs " + std::to_string(columns_.size()) + " cells");
    }
    rows_.push_back(std::move(row));
}

void Records::print(RecordFormat format, std::ostream& out) const {
    switch (format) {
        case RecordFormat::Table:
            printTable(out);
            return;
        case RecordFormat::Csv:
            printCsv(out);
            return;
        case RecordFormat::Json:
            printJson(out);
            return;
    }
}

void Records::printTable(std::ostream& out) const {
    std::vector<size_t> width;
    for (const std::string& c : columns_) {
        width.push_back(c.size());
    }
    for (const auto& row : rows_) {
        for (size_t i = 0; i < row.size(); ++i) {
            width[i] = std::max(width[i], row[i].empty() ? size_t{1} : row[i].text().size());
        }
    }
    auto line = [&](const std::vector<std::string>& cells) {
        std::string text;
        for (size_t i = 0; i < cells.size(); ++i) {
            text += cells[i];
            if (i + 1 < cells.size()) {
                text += std::string(width[i] - cells[i].size() + 2, ' ');
            }
        }
        out << text << "\n";
    };
    line(columns_);
    for (const auto& row : rows_) {
        std::vector<std::string> cells;
        for (const Cell& cell : row) {
            cells.push_back(cell.empty() ? "-" : cell.text());
        }
        line(cells);
    }
}

void Records::printCsv(std::ostream& out) const {
    auto line = [&](const std::vector<std::string>& cells) {
        for (size_t i = 0; i < cells.size(); ++i) {
            out << (i ? "," : "") << csvField(cells[i]);
        }
        out << "\n";
    };
    line(columns_);
    for (const auto& row : rows_) {
        std::vector<std::string> cells;
        for (const Cell& cell : row) {
            cells.push_back(cell.text());
        }
        line(cells);
    }
}

void Records::printJson(std::ostream& out) const {
    out << "[";
    for (size_t r = 0; r < rows_.size(); ++r) {
        out << (r ? ",\n  {" : "\n  {");
        for (size_t i = 0; i < columns_.size(); ++i) {
            out << (i ? ", " : "") << jsonText(nlohmann::json(columns_[i])) << ": "
                << rows_[r][i].json();
        }
        out << "}";
    }
    out << (rows_.empty() ? "]\n" : "\n]\n");
}

}  // namespace qarn
