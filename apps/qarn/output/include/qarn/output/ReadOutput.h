#pragma once
// How `qarn read` prints what it read: "TAG = VALUE" lines for people (failures on the error
// stream), a JSON list, or CSV with a header.

#include <ostream>
#include <string>
#include <vector>

#include <qarn/toolkit/TagValue.h>

namespace qarn {

enum class ReadFormat { Text, Json, Csv };

// "text", "json" or "csv"; throws UsageError for any other name.
ReadFormat readFormat(const std::string& name);

// `hex`: integers in hex too. Text puts failures on `err` as "qarn: TAG: error CODE: TEXT";
// JSON and CSV keep them in their place on `out`.
void printReadings(const std::vector<TagReading>& readings, ReadFormat format, bool hex,
                   std::ostream& out, std::ostream& err);

}  // namespace qarn
