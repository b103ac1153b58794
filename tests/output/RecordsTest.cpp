#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

#include <nlohmann/json.hpp>
#include <qarn/output/Records.h>
#include <qarn/toolkit/Errors.h>

namespace qarn {
namespace {

Records scanRows() {
    Records records({"node", "result", "latency_ms"});
    records.add({1, "answer", Cell(12.345, 1)});
    records.add({7, "exception 2", Cell(8.0, 1)});
    records.add({9, "silent, \"none\"", Cell()});
    return records;
}

std::string printed(const Records& records, RecordFormat format) {
    std::ostringstream out;
    records.print(format, out);
    return out.str();
}

TEST(Records, TableAlignsColumnsAndMarksMissingValues) {
    EXPECT_EQ(printed(scanRows(), RecordFormat::Table),
              "node  result          latency_ms\n"
              "1     answer          12.3\n"
              "7     exception 2     8.0\n"
              "9     silent, \"none\"  -\n");
}

TEST(Records, CsvQuotesAndLeavesMissingValuesEmpty) {
    EXPECT_EQ(printed(scanRows(), RecordFormat::Csv),
              "node,result,latency_ms\n"
              "1,answer,12.3\n"
              "7,exception 2,8.0\n"
              "9,\"silent, \"\"none\"\"\",\n");
}

TEST(Records, JsonIsAListOfTypedObjects) {
    const auto json = nlohmann::json::parse(printed(scanRows(), RecordFormat::Json));
    ASSERT_EQ(json.size(), 3u);
    EXPECT_EQ(json[0]["node"], 1);
    EXPECT_DOUBLE_EQ(json[0]["latency_ms"].get<double>(), 12.3);
    EXPECT_EQ(json[2]["result"], "silent, \"none\"");
    EXPECT_TRUE(json[2]["latency_ms"].is_null());
    EXPECT_EQ(nlohmann::json::parse(printed(Records({"a"}), RecordFormat::Json)).size(), 0u);
}

TEST(Records, RefusesBadRowsAndFormats) {
    Records records({"a", "b"});
    EXPECT_THROW(records.add({1}), std::invalid_argument);
    EXPECT_EQ(recordFormat("text"), RecordFormat::Table);
    EXPECT_THROW(recordFormat("xml"), UsageError);
}

}  // namespace
}  // namespace qarn
