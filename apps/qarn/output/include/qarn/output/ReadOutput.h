#pragma once
// How `qarn read` prints what it read: "TAG = VALUE" lines for people (failures on the error
// stream), a JSON list, or CSV with a header.

#include <ostream>
#include <string>
#include <vector>

#include <qarn/commission/RangeRead.h>
#include <qarn/output/Records.h>
#include <qarn/toolkit/TagValue.h>

namespace qarn {

enum class ReadFormat { Text, Json, Csv };

// "text", "json" or "csv"; throws UsageError for any other name.
ReadFormat readFormat(const std::string& name);

// A value as a cell shows it: toText(), and strings with what is not printable ASCII as \xNN (a
// wrong byte order gives bytes that must not garble a terminal), in quotes when `quoted`.
std::string valueText(const DecodedValue& value, bool quoted);

// A range read, one row an item that was read: its address, its registers (or bytes) in hex,
// its value; for 16-bit items also the register unsigned, signed and as two ASCII characters
// (high byte first, '.' for what is not printable). The error column comes with `withError`.
Records rangeRecords(const std::vector<RangeItem>& items, bool sixteenBit, bool withError);

// `hex`: integers in hex too. Text puts failures on `err` as "qarn: TAG: error CODE: TEXT";
// JSON and CSV keep them in their place on `out`.
void printReadings(const std::vector<TagReading>& readings, ReadFormat format, bool hex,
                   std::ostream& out, std::ostream& err);

}  // namespace qarn
