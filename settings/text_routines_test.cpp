#include "settings/text_routines.h"

#include <gtest/gtest.h>

#include "testing/temp_dir.h"

TEST(SplitKeyValue, UpperCasesTheKeyAndKeepsTheValueWhole) {
    std::string line = "FromUser=a=b\r\n", key, value;
    ASSERT_TRUE(splitKeyValue(line, key, value));
    EXPECT_EQ("FROMUSER", key);
    EXPECT_EQ("a=b", value);
    EXPECT_EQ("FromUser=a=b", line);  // the line end is stripped in place

    line = "PopServer= mail";
    ASSERT_TRUE(splitKeyValue(line, key, value));
    EXPECT_EQ(" mail", value);

    line = " PopServer =x";
    ASSERT_TRUE(splitKeyValue(line, key, value));
    EXPECT_EQ(" POPSERVER ", key);

    line = "[section]";
    EXPECT_FALSE(splitKeyValue(line, key, value));
    EXPECT_EQ("", key);
}

TEST(SplitKeyValue, LooksOnlyAtTheFirst255Characters) {
    std::string line = std::string(300, 'k') + "=v", key, value;
    EXPECT_FALSE(splitKeyValue(line, key, value));
    line = "k=" + std::string(300, 'v');
    ASSERT_TRUE(splitKeyValue(line, key, value));
    EXPECT_EQ(253u, value.size());
}

TEST(StripLineEnd, CutsAtTheFirstLineFeedThenTheFirstCarriageReturn) {
    std::string s = "ab\rcd\nef";
    stripLineEnd(s);
    EXPECT_EQ("ab", s);
}

TEST(TrailingSlash, AddsAndRemovesOneSeparator) {
    std::string p = "/data";
    addTrailingSlash(p);
    EXPECT_EQ("/data/", p);
    addTrailingSlash(p);
    EXPECT_EQ("/data/", p);
    std::string empty;
    addTrailingSlash(empty);
    EXPECT_EQ("", empty);
    removeTrailingSlash(p);
    EXPECT_EQ("/data", p);
    std::string root = "/";
    removeTrailingSlash(root);
    EXPECT_EQ("/", root);
}

TEST(ParseLeadingInt, TakesDigitsAfterBlanksOnly) {
    EXPECT_EQ(42, parseLeadingInt("  42 octets"));
    EXPECT_EQ(0, parseLeadingInt("+42"));
    EXPECT_EQ(0, parseLeadingInt("\t42"));
    EXPECT_EQ(2000000000, parseLeadingInt(" 2000000000"));
    EXPECT_EQ(2147483647, parseLeadingInt("99999999999999999999"));
}

TEST(ParseInteger, ReadsLikeAtoiWithoutOverflow) {
    EXPECT_EQ(-5, parseInteger("  -5x"));
    EXPECT_EQ(7, parseInteger("+7"));
    EXPECT_EQ(0, parseInteger("abc"));
    EXPECT_EQ(2147483647, parseInteger("99999999999999999999"));
    EXPECT_EQ(-2147483647 - 1, parseInteger("-99999999999999999999"));
}

TEST(FileAndDirExists, TellFilesFromDirectories) {
    TempDir dir;
    writeFile(dir.file("f"), "x");
    EXPECT_TRUE(fileExists(dir.file("f")));
    EXPECT_FALSE(fileExists(dir.file("missing")));
    EXPECT_TRUE(dirExists(dir.path()));  // with its trailing slash
    EXPECT_FALSE(dirExists(dir.file("f")));
    EXPECT_FALSE(dirExists(dir.file("missing")));
}
