// Node-id replacements and their text forms.

#include <gtest/gtest.h>

#include "AddressReplacerID.h"

TEST(AddressReplacer, TextForms) {
    const AddressReplacerID replacer;
    EXPECT_EQ(replacer.getPrefix(), "tempNode");
    const std::pair<const char*, int> texts[] = {{"0x10", 16},  {"0X1f", 31}, {"010", 8},
                                                 {"12abc", 12}, {"abc", 0},   {"  -7", -7},
                                                 {"", 0},       {"+9", 9}};
    for (const auto& t : texts) {
        EXPECT_EQ(replacer.fromString(t.first), t.second) << t.first;
    }
    for (int value : {-5, 0, 247, 2147483647}) {
        EXPECT_EQ(replacer.fromString(replacer.toString(value)), value);
    }
    EXPECT_EQ(replacer.toString(-5), "-5");
    EXPECT_EQ(replacer.toString(0), "0");
}

TEST(AddressReplacer, ReplacesInPlace) {
    AddressReplacerID replacer;
    EXPECT_EQ(replacer.lookup(3), 3);
    replacer.set(3, 30);
    replacer.set(4, 40);
    replacer.set(3, 33);
    EXPECT_EQ(replacer.lookup(3), 33);
    EXPECT_EQ(replacer.lookup(4), 40);
    EXPECT_EQ(replacer.getPairs().size(), 2u);
}
