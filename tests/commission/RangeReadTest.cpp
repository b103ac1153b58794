// Range reads against the real driver: where each item lies, what goes on the line, and what a
// failed request does to its items.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <qarn/commission/RangeRead.h>
#include <qarn/toolkit/Errors.h>
#include "GuessDriver.h"

namespace {

using qarntest::Bytes;
using qarntest::hexBytes;

struct Case {
    const char* first;
    int count;
    std::vector<const char*> answers;   // frames without CRC, in order
    std::vector<const char*> requests;  // the start of each request sent
    std::vector<std::string> positions;
    std::vector<std::string> values;
    std::vector<std::string> hex;  // the items' registers or bytes
};

std::string hexOf(const qarn::RangeItem& item) {
    std::string text;
    for (const uint16_t r : item.registers) {
        text += std::to_string(r) + " ";
    }
    for (const uint8_t b : item.bytes) {
        text += "b" + std::to_string(b) + " ";
    }
    return text;
}

TEST(RangeRead, ItemsStepByTheirSizeAndShareAsFewRequestsAsThePluginAllows) {
    const Case cases[] = {
        {"1?HREG?400001?float(swap2,swap4)",
         3,
         {"01 03 0C 43 66 80 00 3F C0 00 00 00 00 00 00"},
         {"01 03 00 00 00 06"},
         {"400001", "400003", "400005"},
         {"230.5", "1.5", "0"},
         {"17254 32768 ", "16320 0 ", "0 0 "}},
        // Twenty registers: the generic model lets fifteen share a request.
        {"1?HREG?400011?unsignedShort",
         20,
         {"01 03 1E 00 01 00 02 00 03 00 04 00 05 00 06 00 07 00 08 00 09 00 0A 00 0B 00 0C 00 "
          "0D 00 0E 00 0F",
          "01 03 0A 00 10 00 11 00 12 00 13 00 14"},
         {"01 03 00 0A 00 0F", "01 03 00 19 00 05"},
         {},
         {},
         {}},
        // Bytes: the high byte is sub-index 1.
        {"1?HREG?400001.1?unsignedByte",
         3,
         {"01 03 04 12 34 56 78"},
         {"01 03 00 00 00 02"},
         {"400001.1", "400002", "400002.1"},
         {"18", "120", "86"},
         {"b18 ", "b120 ", "b86 "}},
        // Bits of a register step one bit, into the next register.
        {"1?HREG?400001.15?boolean",
         2,
         {"01 03 04 80 00 00 01"},
         {"01 03 00 00 00 02"},
         {"400001.15", "400002.0"},
         {"1", "1"},
         {"32768 ", "1 "}},
        // Coils: runs of sixteen, one tag a run.
        {"1?OUTP?1?boolean",
         20,
         {"01 01 02 05 80", "01 01 01 09"},
         {"01 01 00 00 00 10", "01 01 00 10 00 04"},
         {},
         {},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.first);
        qarntest::GuessDriver driver;
        ASSERT_TRUE(driver.started);
        for (const char* a : c.answers) {
            driver.port.answer(qarntest::withCrc(hexBytes(a)));
        }
        qarn::RangeRead range(driver.protocol, c.first, c.count);
        EXPECT_EQ(range.plan(), c.requests.size());
        const qarn::CycleSummary summary = range.run();
        EXPECT_TRUE(summary.complete);
        const std::vector<Bytes> sent = driver.port.requests();
        ASSERT_EQ(sent.size(), c.requests.size());
        for (size_t i = 0; i < sent.size(); ++i) {
            EXPECT_EQ(qarntest::toHex(sent[i]).substr(0, 17), c.requests[i]);
        }
        const std::vector<qarn::RangeItem>& items = range.items();
        ASSERT_EQ(items.size(), static_cast<size_t>(c.count));
        for (size_t i = 0; i < items.size(); ++i) {
            ASSERT_TRUE(items[i].ok) << i << ": " << items[i].error;
            if (!c.positions.empty()) {
                EXPECT_EQ(items[i].position, c.positions[i]);
                EXPECT_EQ(qarn::toText(items[i].value, false), c.values[i]);
                EXPECT_EQ(hexOf(items[i]), c.hex[i]);
            }
        }
        if (std::string(c.first) == "1?HREG?400011?unsignedShort") {
            EXPECT_EQ(items[19].position, "400030");
            EXPECT_EQ(qarn::toText(items[19].value, false), "20");
            EXPECT_TRUE(range.sixteenBit());
        }
        if (std::string(c.first) == "1?OUTP?1?boolean") {
            // 0x0580: coils 1, 3, 16; 0x09: coils 17 and 20.
            std::string bits;
            for (const qarn::RangeItem& item : items) {
                bits += qarn::toText(item.value, false);
            }
            EXPECT_EQ(bits, "10100000000000011001");
            EXPECT_EQ(items[19].position, "20");
            EXPECT_TRUE(items[0].registers.empty());
        }
    }
}

TEST(RangeRead, AFailedRequestMarksItsItemsAndARefusedItemIsNamed) {
    qarntest::GuessDriver driver;
    ASSERT_TRUE(driver.started);
    driver.port.silence();
    qarn::RangeRead range(driver.protocol, "1?HREG?400001?int", 3);
    range.run();
    for (const qarn::RangeItem& item : range.items()) {
        EXPECT_TRUE(item.read);
        EXPECT_FALSE(item.ok);
        EXPECT_EQ(item.error.rfind("error -6: ", 0), 0U) << item.error;
    }
    try {
        qarn::RangeRead past(driver.protocol, "1?HREG?465534?short", 3);
        ADD_FAILURE() << "an item past the area's end was made";
    } catch (const qarn::Failure& e) {
        EXPECT_NE(std::string(e.what()).find("1?HREG?465536?short: "), std::string::npos)
            << e.what();
    }
    try {
        qarn::RangeRead bad(driver.protocol, "1?HREG?400001?string(swap2)-8", 2);
        ADD_FAILURE() << "a tag of an unknown type was made";
    } catch (const qarn::Failure& e) {
        EXPECT_NE(std::string(e.what()).find("data type unknown ('qarn types' lists"),
                  std::string::npos)
            << e.what();
    }
}

}  // namespace
