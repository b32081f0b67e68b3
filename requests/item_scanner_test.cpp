#include "requests/item_scanner.h"

#include <gtest/gtest.h>

#include <climits>

TEST(ScanRequestItems, ReadsNineItemsAcrossAnyWhiteSpaceAndIgnoresTheRest) {
    RequestItems items;
    EXPECT_EQ(9, scanRequestItems("  2\t18 +2003\r\n14   -30 5 20 bhz,bhn a@b.c more text", items));
    const int expected[7] = {2, 18, 2003, 14, -30, 5, 20};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(expected[i], items.numbers[i]) << i;
    EXPECT_EQ("bhz,bhn", items.channelList);
    EXPECT_EQ("a@b.c", items.lastWord);
}

TEST(ScanRequestItems, StopsAtTheFirstItemThatDoesNotConvert) {
    RequestItems items;
    EXPECT_EQ(2, scanRequestItems("2 18 x 14 30 5 20 bhz a", items));
    EXPECT_EQ(1, scanRequestItems("2abc 18", items));
    EXPECT_EQ(0, scanRequestItems("- 2", items));
    EXPECT_EQ(0, scanRequestItems("", items));
    EXPECT_EQ(8, scanRequestItems("1 2 3 4 5 6 7 bhz   ", items));
    EXPECT_EQ(7, scanRequestItems("1 2 3 4 5 6 7", items));
}

TEST(ScanRequestItems, IntegersBeyondTheRangeStopAtItsEnds) {
    RequestItems items;
    EXPECT_EQ(9, scanRequestItems("99999999999999999999 -99999999999 2147483647 -2147483648 "
                                  "0 0 0 c a",
                                  items));
    EXPECT_EQ(INT_MAX, items.numbers[0]);
    EXPECT_EQ(INT_MIN, items.numbers[1]);
    EXPECT_EQ(INT_MAX, items.numbers[2]);
    EXPECT_EQ(INT_MIN, items.numbers[3]);
}

TEST(ItemScanner, WordNeedsANonBlankCharacter) {
    ItemScanner scanner(" \t\r\n");
    std::string word = "unchanged";
    EXPECT_FALSE(scanner.readWord(word));
    EXPECT_EQ("unchanged", word);

    ItemScanner two("one two");
    EXPECT_TRUE(two.readWord(word));
    EXPECT_EQ("one", word);
    EXPECT_EQ(" two", two.rest());
}
