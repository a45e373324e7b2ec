#include "platform/Errors.h"
#include "support/LstFile.h"
#include "tests/common/TestUtil.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

using testutil::TempDir;
using testutil::WriteBytes;

namespace {
struct ListFixture : ::testing::Test {
    TempDir dir;
    std::string path = dir / "files.lst";
    TListFile Write(const std::string& text) {
        WriteBytes(path, text);
        return TListFile(path);
    }
};
} // namespace

TEST_F(ListFixture, ReadsSectionsWithTrimmingAndCrLf) {
    auto list = Write("[settings]\r\nRev|57\r\nModHosts|0\r\n[/settings]\r\n"
                      "  [files_normal]\t\r\n  a|b|1 \r\n\r\n \t\r\nc\rd|e|2\r\n[/files_normal]\r\n"
                      "[FILES_NORMAL]\nx|y|3\n[/FILES_NORMAL]\n");
    EXPECT_EQ(list.GetSection("files_normal"), (TStringList{"a|b|1", "cd|e|2"}));
    EXPECT_EQ(list.GetSection("FILES_NORMAL"), (TStringList{"x|y|3"}));
    EXPECT_EQ(list.GetValue("settings", "Rev"), "57");
    EXPECT_EQ(list.GetValue("settings", "ModHosts"), "0");
    // Reads may repeat and come in any order.
    EXPECT_EQ(list.GetValue("settings", "Rev"), "57");
}

TEST_F(ListFixture, MissingEmptyAndBlankSectionsGiveFail) {
    auto list = Write("[a]\n[/a]\n[b]\n  \n\t\n[/b]\n[ c ]\nx\n[/ c ]\n[/d]\n[d]\ny\n[/d]");
    EXPECT_EQ(list.GetSection("a"), TStringList{"FAIL"});
    EXPECT_EQ(list.GetSection("b"), TStringList{"FAIL"});
    EXPECT_EQ(list.GetSection("c"), TStringList{"FAIL"});
    EXPECT_EQ(list.GetSection("missing"), TStringList{"FAIL"});
    // An end line before the start line is an ordinary line outside the section.
    EXPECT_EQ(list.GetSection("d"), TStringList{"y"});
    EXPECT_EQ(list.GetValue("missing", "Rev"), "");
}

TEST_F(ListFixture, OnlyTheFirstSectionOfANameCountsAndOtherStartLinesAreContent) {
    auto list = Write("[files_critical]\none\n[self]\n[/files_critical]\n[files_critical]\ntwo\n[/files_critical]\n");
    EXPECT_EQ(list.GetSection("files_critical"), (TStringList{"one", "[self]"}));
    // [self] has no end line of its own: it runs to the end of the file.
    EXPECT_EQ(list.GetSection("self"),
              (TStringList{"[/files_critical]", "[files_critical]", "two", "[/files_critical]"}));
}

TEST_F(ListFixture, GetValueMatchesTheFirstFieldExactly) {
    auto list = Write("[settings]\nrev|1\nRev|x|57\nRev|99\nOnly\n|||\n[/settings]\n");
    EXPECT_EQ(list.GetValue("settings", "Rev"), "57");
    EXPECT_EQ(list.GetValue("settings", "Only"), "Only");
    EXPECT_EQ(list.GetValue("settings", "REV"), "");
    EXPECT_EQ(list.GetValue("settings", "Missing"), "");
}

TEST_F(ListFixture, AMissingEndLineEndsTheSectionAtTheEndOfTheFile) {
    auto list = Write("[settings]\nRev|5\n[files_normal]\na|b|1\nlast-without-newline");
    EXPECT_EQ(list.GetSection("files_normal"), (TStringList{"a|b|1", "last-without-newline"}));
    EXPECT_EQ(list.GetValue("settings", "Rev"), "5");
    EXPECT_EQ(list.GetValue("settings", "Nope"), "");
}

TEST_F(ListFixture, LinesUpToOneMebibyteAreReadWholeAndALongerOneMakesTheListCorrupt) {
    {
        std::string longPath(kMaxListLine - 4, 'p');
        auto list = Write("[files_normal]\n" + longPath + "|d|1\n[/files_normal]\n");
        EXPECT_EQ(list.GetSection("files_normal"), TStringList{longPath + "|d|1"});
    } // the reader keeps its file open until here
    // Anywhere in the file, inside a section or not, CRs not counted.
    auto corrupt = Write("[settings]\nRev|1\n[/settings]\n" + std::string(kMaxListLine, 'x') + "\r\n\r\n" +
                         std::string(kMaxListLine + 1, 'y'));
    EXPECT_EQ(corrupt.GetSection("settings"), TStringList{"Rev|1"});
    EXPECT_THROW(corrupt.GetSection("self"), EListLineTooLong);
    EXPECT_THROW(corrupt.GetValue("hosts", "Missing"), EListLineTooLong);
}

TEST_F(ListFixture, AMissingFileRaisesTheInputOutputError) {
    TListFile list(dir / "absent.lst");
    EXPECT_THROW(list.GetSection("settings"), EInOutError);
    EXPECT_THROW(list.GetValue("settings", "Rev"), EInOutError);
}

TEST(FileEntry, ReadsPathDigestAndSizeFromTheEndAndConvertsTheSizeOnlyWhenAsked) {
    TFileEntry entry = TFileEntry::Parse("ignored|system\\zr.exe||0123|77");
    EXPECT_EQ(entry.Path, "system\\zr.exe");
    EXPECT_EQ(entry.Digest, "0123");
    EXPECT_EQ(entry.Size(), 77);
    EXPECT_THROW(TFileEntry::Parse("only|two"), EStringListError);
    TFileEntry badSize = TFileEntry::Parse("a|b|big");
    EXPECT_EQ(badSize.Path, "a");
    EXPECT_THROW(badSize.Size(), EConvertError);
    // Payloads of many GiB: sizes up to 2^63 - 1, and not one past it.
    for (const auto& [text, size] : std::vector<std::pair<std::string, int64_t>>{
             {"2147483647", 2147483647LL}, {"2147483648", 2147483648LL}, {"4294967297", 4294967297LL},
             {"9223372036854775807", INT64_MAX}, {"-5", -5}})
        EXPECT_EQ(TFileEntry::Parse("a|b|" + text).Size(), size) << text;
    for (const char* text : {"9223372036854775808", "99999999999999999999", "1e9", "-"})
        EXPECT_THROW(TFileEntry::Parse(std::string("a|b|") + text).Size(), EConvertError) << text;
}
