#include "platform/Errors.h"
#include "support/LauncherNames.h"
#include "support/Misc.h"
#include "support/SafeNames.h"

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

TEST(PayloadUrl, EscapesWhatAUrlCannotCarryAndKeepsEveryOtherByte) {
    EXPECT_EQ(names::PayloadUrl("http://h/u/", "data\\maps\\area.dat"), "http://h/u/data/maps/area.dat.bz2");
    EXPECT_EQ(names::PayloadUrl("http://h/", "Game Data\\file with spaces.txt"), "http://h/Game%20Data/file%20with%20spaces.txt.bz2");
    EXPECT_EQ(names::PayloadUrl("http://h/", "a#b?c%d.txt"), "http://h/a%23b%3Fc%25d.txt.bz2");
    EXPECT_EQ(names::PayloadUrl("http://h/", "\xca\xe0\xf0\xf2\xfb\\x{1}^`.dat"), "http://h/%CA%E0%F0%F2%FB/x%7B1%7D%5E%60.dat.bz2");
    EXPECT_EQ(names::PayloadUrl("http://h/", "a-b_c~d!$&'()*+,;=@.txt"), "http://h/a-b_c~d!$&'()*+,;=@.txt.bz2");
}

TEST(SafeNames, AcceptOrdinaryGameFilesOnly) {
    for (const char* ok : {"system\\zr.exe", "data\\maps\\area.dat", "a", "readme.txt", "x\\console.log",
                           "com10.dat", "\xcf\xf0\xe8\xe2\xe5\xf2.txt", "Game Data\\file with spaces.txt", "a#b.txt",
                           "50%.txt", "x\\ lead.txt"})
        EXPECT_TRUE(IsSafeRelativePath(ok)) << ok;
    for (const char* bad : {"", "\\x", "/x", "C:\\x", "C:x", "\\\\srv\\x", "\\\\?\\C:\\x", "..\\x", "a\\..\\..\\x",
                            "a/../x", ".\\x", "a\\\\b", "a\\", "x:stream", "a\\CON", "nul.txt", "Com1.log", "LPT9",
                            "aux", "CONIN$", "conout$.txt", "CLOCK$", "COM0", "lpt0.dat", "COM\xb9", "a\x01" "b", "a<b",
                            "a>b", "a\"b", "a|b", "a?b", "a*b", "dot.", "blank ", " lead.txt"})
        EXPECT_FALSE(IsSafeRelativePath(bad)) << bad;
    EXPECT_NE(UnsafePathReason("a\\..\\..\\x").find("outside the install folder"), std::string::npos);
}

TEST(SafeNames, TheLaunchersOwnExeNeedsAPlainAsciiNameItsBatchFileCanUseUnquoted) {
    for (const char* ok : {"Vandrel_Updater.exe", "upd-2.exe", "a+b~c.exe"}) EXPECT_TRUE(IsPlainFileName(ok)) << ok;
    // The command processor splits at , ; = as at a blank: "rename" would fail after "del" succeeded.
    for (const char* bad : {"", "sub\\upd.exe", "my upd.exe", "a&b.exe", "a,b.exe", "a;b.exe", "a=b.exe", "50%.exe",
                            "\xcf\xe1\xed\xee\xe2.exe", "a^b.exe", "(a).exe", "bang!.exe", "con.exe", "upd.exe."})
        EXPECT_FALSE(IsPlainFileName(bad)) << bad;
}
