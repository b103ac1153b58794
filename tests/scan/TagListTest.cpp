// Tag lists as a user writes them in a file or on the command line.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include <qarn/scan/TagList.h>
#include <qarn/toolkit/Errors.h>

namespace {

std::vector<std::string> parse(const std::string& text, const std::string& source = "list") {
    std::istringstream in(text);
    std::vector<std::string> out;
    for (const qarn::TagSpec& t : qarn::parseTagList(in, source)) {
        out.push_back(t.name + "|" + t.address + "|" + t.origin);
    }
    return out;
}

TEST(TagList, FilesAndArgumentsGiveUniqueNamesAddressesAndPlaces) {
    EXPECT_EQ(parse("# meter\n\nvolts   1?IREG?300001?int(swap2,swap4)   # 0.1 V\n"
                    "\tfreq\t1?IREG?300032?unsignedShort\r\n1?HREG?400001?short\n"
                    "spaced 2 ? HREG ? 400003 ? short\n   # indented comment\n"
                    "amps=1?HREG?400005?float\nwatts = 1?HREG?400007?float\n"),
              (std::vector<std::string>{"volts|1?IREG?300001?int(swap2,swap4)|list:3",
                                        "freq|1?IREG?300032?unsignedShort|list:4",
                                        "1?HREG?400001?short|1?HREG?400001?short|list:5",
                                        "spaced|2 ? HREG ? 400003 ? short|list:6",
                                        "amps|1?HREG?400005?float|list:8",
                                        "watts|1?HREG?400007?float|list:9"}));
    try {
        parse("a 1?HREG?400001?short\nvolts # no address\n");
        ADD_FAILURE() << "a name without an address was accepted";
    } catch (const qarn::UsageError& e) {
        EXPECT_STREQ(e.what(), "list:2: 'volts' has no tag address (NAME NODE?AREA?ADDRESS?TYPE)");
    }
    const qarn::TagSpec named = qarn::parseTagArgument(" v = 1?IREG?300001?int ", 3);
    EXPECT_EQ(named.name + "|" + named.address + "|" + named.origin,
              "v|1?IREG?300001?int|argument 3");
    for (const char* bad : {"=1?HREG?400001?short", "v=", "  "}) {
        EXPECT_THROW(qarn::parseTagArgument(bad, 1), qarn::UsageError) << bad;
    }
    // Names must be unique, and the list not empty.
    try {
        qarn::checkTagNames({named, qarn::parseTagArgument("v=1?HREG?400009?short", 5)});
        ADD_FAILURE() << "a name used twice was accepted";
    } catch (const qarn::UsageError& e) {
        EXPECT_STREQ(e.what(), "argument 5: the name 'v' is already used at argument 3");
    }
    EXPECT_THROW(qarn::checkTagNames({}), qarn::UsageError);
}

}  // namespace
