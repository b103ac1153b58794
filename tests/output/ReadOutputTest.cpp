// What `qarn read` prints: JSON keeps numbers numbers and shows hex for integers only; CSV and
// text keep each reading, failed or not, in its place.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include <qarn/host/ErrorCodes.h>
#include <qarn/output/ReadOutput.h>

namespace {

using Bytes = std::vector<uint8_t>;

template <typename T>
Bytes bytesOf(std::initializer_list<T> values) {
    Bytes out(values.size() * sizeof(T));
    std::memcpy(out.data(), values.begin(), out.size());
    return out;
}

qarn::TagReading reading(const char* tag, const qarn::ValueType& type, const Bytes& value) {
    qarn::TagReading r;
    r.tag = tag;
    r.ok = true;
    r.type = qarn::typeName(type);
    r.value = qarn::decodeValue(type, value.data(), value.size());
    return r;
}

qarn::TagReading failed(const char* tag) {
    qarn::TagReading r;
    r.tag = tag;
    r.code = ErrorCode::Communication;
    r.text = "Communication error";
    return r;
}

std::string print(const std::vector<qarn::TagReading>& readings, const char* format, bool hex,
                  std::string* errors = nullptr) {
    std::ostringstream out, err;
    qarn::printReadings(readings, qarn::readFormat(format), hex, out, err);
    if (errors != nullptr) {
        *errors = err.str();
    }
    return out.str();
}

TEST(ReadOutput, JsonKeepsNumbersNumbersAndShowsHexOnlyForIntegers) {
    const struct {
        qarn::ValueType type;
        Bytes bytes;
        const char* value;
        const char* hex;  // null: no "hex" member
    } cases[] = {
        {{ICU_SHORT, 2, ICU_NONE}, bytesOf<int16_t>({-2}), "-2", "\"0xFFFE\""},
        {{ICU_BOOLEAN_ARRAY, 4, ICU_BOOLEAN}, {1, 0, 0, 1}, "[true,false,false,true]", nullptr},
        {{ICU_FLOAT_ARRAY, 8, ICU_FLOAT}, bytesOf<float>({1.5F, INFINITY}), "[1.5,null]", nullptr},
        {{ICU_BINARY, 3, ICU_UNSIGNED_BYTE}, {1, 2, 3}, "\"010203\"", nullptr},
        {{ICU_STRING, 4, ICU_BYTE}, {'o', 'k', 0xFF, 0}, "\"ok\xEF\xBF\xBD\"", nullptr},
        {{ICU_UNSIGNED_SHORT_ARRAY, 4, ICU_UNSIGNED_SHORT},
         bytesOf<uint16_t>({1, 2}),
         "[1,2]",
         "[\"0x0001\",\"0x0002\"]"},
    };
    std::vector<qarn::TagReading> readings;
    for (const auto& c : cases) {
        readings.push_back(reading("t", c.type, c.bytes));
    }
    readings.push_back(failed("1?HREG?400001?short"));
    const nlohmann::json list = nlohmann::json::parse(print(readings, "json", true));
    ASSERT_EQ(list.size(), readings.size());
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(list[i]["value"].dump(), cases[i].value) << list[i];
        EXPECT_EQ(list[i].contains("hex") ? list[i]["hex"].dump() : "",
                  cases[i].hex ? cases[i].hex : "")
            << list[i];
    }
    EXPECT_EQ(list.back(), nlohmann::json::parse(R"({"tag": "1?HREG?400001?short",
        "error": {"code": -6, "text": "Communication error"}})"));
}

TEST(ReadOutput, CsvAndTextKeepEveryReadingInItsPlace) {
    const std::vector<qarn::TagReading> readings = {
        reading("1?HREG?400001?short-2", {ICU_SHORT_ARRAY, 4, ICU_SHORT},
                bytesOf<int16_t>({1, -1})),
        failed("1?HREG?400003?short"),
        reading("1?HREG?400004?float", {ICU_FLOAT, 4, ICU_NONE}, bytesOf<float>({0.5F}))};
    EXPECT_EQ(print(readings, "csv", true),
              "tag,type,value,hex,error\n"
              "1?HREG?400001?short-2,short-2,\"1,-1\",\"0x0001,0xFFFF\",\n"
              "1?HREG?400003?short,,,,error -6: Communication error\n"
              "1?HREG?400004?float,float,0.5,,\n");
    EXPECT_EQ(print(readings, "csv", false),
              "tag,type,value,error\n"
              "1?HREG?400001?short-2,short-2,\"1,-1\",\n"
              "1?HREG?400003?short,,,error -6: Communication error\n"
              "1?HREG?400004?float,float,0.5,\n");
    std::string errors;
    EXPECT_EQ(print(readings, "text", true, &errors),
              "1?HREG?400001?short-2 = 1,-1 (0x0001,0xFFFF)\n1?HREG?400004?float = 0.5\n");
    EXPECT_EQ(errors, "qarn: 1?HREG?400003?short: error -6: Communication error\n");
}

}  // namespace
