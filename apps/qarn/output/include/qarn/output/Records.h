#pragma once
// Rows of results printed one of three ways: an aligned table for people, CSV with a header, or a
// JSON list of objects keyed by the column names. The commissioning commands all print this way.

#include <ostream>
#include <string>
#include <variant>
#include <vector>

namespace qarn {

enum class RecordFormat { Table, Csv, Json };

// "table" (also "text"), "csv" or "json"; throws UsageError for any other name.
RecordFormat recordFormat(const std::string& name);

// One value of a row. A missing value is an empty cell, "-" in the table and null in JSON.
class Cell {
  public:
    Cell() = default;
    Cell(long long number) : value_(number) {}
    Cell(int number) : value_(static_cast<long long>(number)) {}
    // Printed with `decimals` digits after the point; JSON gets the same rounded number.
    Cell(double number, int decimals) : value_(number), decimals_(decimals) {}
    Cell(bool flag) : value_(flag) {}
    Cell(std::string text) : value_(std::move(text)) {}
    Cell(const char* text) : value_(std::string(text)) {}

    bool empty() const { return std::holds_alternative<std::monostate>(value_); }
    // As the table and CSV show it; empty for a missing value.
    std::string text() const;
    // As JSON text: a number, true/false, a quoted string or null.
    std::string json() const;

  private:
    std::variant<std::monostate, long long, double, bool, std::string> value_;
    int decimals_ = 0;
};

class Records {
  public:
    explicit Records(std::vector<std::string> columns) : columns_(std::move(columns)) {}

    // Throws std::invalid_argument when the row does not have one cell per column.
    void add(std::vector<Cell> row);
    size_t size() const { return rows_.size(); }
    const std::vector<std::string>& columns() const { return columns_; }

    void print(RecordFormat format, std::ostream& out) const;

  private:
    void printTable(std::ostream& out) const;
    void printCsv(std::ostream& out) const;
    void printJson(std::ostream& out) const;

    std::vector<std::string> columns_;
    std::vector<std::vector<Cell>> rows_;
};

}  // namespace qarn
