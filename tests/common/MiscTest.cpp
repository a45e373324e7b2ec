#include "support/Errors.h"
#include "support/Misc.h"

#include <gtest/gtest.h>

TEST(SplitReversed, ReturnsFieldsLastFirstAndDropsEmptyOnes) {
    EXPECT_EQ(SplitReversed("system\\zr.exe|0123|77", "|"), (TStringList{"77", "0123", "system\\zr.exe"}));
    EXPECT_EQ(SplitReversed("a|b|c", "|"), (TStringList{"c", "b", "a"}));
    EXPECT_EQ(SplitReversed("a||b", "|"), (TStringList{"b", "a"}));
    EXPECT_EQ(SplitReversed("|a", "|"), (TStringList{"a"}));
    EXPECT_EQ(SplitReversed("a|", "|"), (TStringList{"a"}));
    EXPECT_EQ(SplitReversed("abc", "|"), (TStringList{"abc"}));
    EXPECT_TRUE(SplitReversed("", "|").empty());
    EXPECT_TRUE(SplitReversed("|||", "|").empty());
    // Every character of the delimiter text delimits; fields are not trimmed.
    EXPECT_EQ(SplitReversed(" a ;b,c", ";,"), (TStringList{"c", "b", " a "}));
}

TEST(FindFrom, FindsTheFirstOccurrenceAtOrAfterTheStart) {
    EXPECT_EQ(FindFrom(1, "abcb", "b"), 2u);
    EXPECT_EQ(FindFrom(1, "abcb", "cd"), 0u);
    EXPECT_EQ(FindFrom(3, "abcb", "b"), 4u);
    EXPECT_EQ(FindFrom(1, "abc", "A"), 0u);
    EXPECT_EQ(FindFrom(1, "abc", ""), 0u);
    EXPECT_EQ(FindFrom(1, "ab", "abc"), 0u);
    EXPECT_EQ(FindFrom(1, "abc", "abc"), 1u);
    EXPECT_EQ(FindFrom(5, "abcb", "b"), 0u);
    // Repeated bytes in the pattern and near misses exercise the shift table.
    EXPECT_EQ(FindFrom(1, "aaabaaabaaaab", "aaaab"), 9u);
    EXPECT_EQ(FindFrom(1, "11.2.3.4\tgame", "1.2.3.4\t"), 2u);
    EXPECT_EQ(FindFrom(1, std::string("x\xff\x80y\xff\x80", 6), std::string("\xff\x80", 2)), 2u);
}

TEST(ReplaceAll, ReplacesLeftToRightWithoutRescanningOutput) {
    EXPECT_EQ(ReplaceAll("a\\b\\c", "\\", "/"), "a/b/c");
    EXPECT_EQ(ReplaceAll("aba", "a", "aa"), "aabaa");
    EXPECT_EQ(ReplaceAll("abc", "", "x"), "abc");
    EXPECT_EQ(ReplaceAll("aaa", "aa", "b"), "ba");
    EXPECT_EQ(ReplaceAll("", "a", "b"), "");
}

TEST(Trim, RemovesControlBytesAndBlanksOnlyAtTheEnds) {
    EXPECT_EQ(Trim(" \t[files_normal]\t\r"), "[files_normal]");
    EXPECT_EQ(Trim("a \t b"), "a \t b");
    EXPECT_EQ(Trim(std::string("\x01\x1f x \x20", 6)), "x");
    EXPECT_EQ(Trim(" \t "), "");
}

TEST(StrToInt, AcceptsDecimalIntegersOnly) {
    EXPECT_EQ(StrToInt("57"), 57);
    EXPECT_EQ(StrToInt("-12"), -12);
    EXPECT_EQ(StrToInt("+3"), 3);
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
    for (const char* bad : {"", "x", "1x", "2147483648", "-", "1 ", "0x10", "99999999999999999999"})
        EXPECT_THROW(StrToInt(bad), EConvertError) << bad;
    try {
        StrToInt("abc");
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'abc' is not a valid integer value");
    }
}

TEST(ItemAt, RaisesTheListIndexError) {
    TStringList list{"a"};
    EXPECT_EQ(ItemAt(list, 0), "a");
    try {
        ItemAt(list, 2);
        FAIL();
    } catch (const EStringListError& e) {
        EXPECT_STREQ(e.what(), "List index out of bounds (2)");
    }
}

TEST(ExtractFilePath, KeepsTheFolderWithItsSeparator) {
    EXPECT_EQ(ExtractFilePath("C:\\Game\\system\\zr.exe"), "C:\\Game\\system\\");
    EXPECT_EQ(ExtractFilePath("C:zr.exe"), "C:");
    EXPECT_EQ(ExtractFilePath("zr.exe"), "");
}
