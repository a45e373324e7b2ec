// Name rules, code page 1251 and file patterns of vandrel-publish; payload compression and joining.
#include "support/BZip2.h"
#include "support/LauncherNames.h"
#include "support/SafeNames.h"
#include "support/md5.h"
#include "tests/common/TestUtil.h"
#include "tools/publish/PublishCompress.h"
#include "tools/publish/PublishNames.h"

#include <gtest/gtest.h>

using namespace publish;
using namespace testutil;

namespace {

std::string Unpack(const std::string& payload) {
    TMemoryStream source(payload), target;
    UnpackStream(source, target);
    return target.Bytes();
}

// Compresses the way a publish does: piece by piece, joined into one stream (an empty file has no
// block to join and is published as compressed).
std::string PublishCompress(const std::string& data) {
    if (data.empty()) return CompressBytes("", 0);
    TMemoryStream target;
    TBZBlockJoiner joiner(target);
    for (size_t at = 0; at < data.size(); at += kPieceSize)
        for (const std::string& stream : CompressPiece(data.data() + at, std::min(kPieceSize, data.size() - at)))
            joiner.Add(stream);
    joiner.Finish();
    return target.Bytes();
}

} // namespace

TEST(PublishNames, SafePathsBecomeListPathsWithBackslashes) {
    EXPECT_EQ(ListPath("system/zr.exe", false), "system\\zr.exe");
    EXPECT_EQ(ListPath("Program data/my file (1).txt", false), "Program data\\my file (1).txt");
    EXPECT_EQ(ListPath("a.b.c/.hidden", false), "a.b.c\\.hidden");
    EXPECT_EQ(ListPath("console.txt", false), "console.txt") << "only the device name itself is reserved";
    EXPECT_EQ(ListPath("COM10.dat", false), "COM10.dat");
    for (const char* bad : {"/etc/passwd", "a//b", "../up.txt", "a/./b", "C:/x", "com1.log", "Aux", "nul.tar.gz",
                            "a/b./c", "x\ty", "pipe|d", "lt<", "gt>", "dir/"}) {
        EXPECT_THROW(ListPath(bad, false), EPublishError) << bad;
    }
}

TEST(PublishNames, WhateverThePublisherListsTheLauncherInstalls) {
    // One rule decides for both: device names that only the launcher knew about are refused here too.
    for (const char* device : {"CONIN$", "conout$.log", "CLOCK$", "COM0", "lpt0.txt", "data/Com0.dat"})
        EXPECT_THROW(ListPath(device, true), EPublishError) << device;
    size_t listed = 0;
    for (const char* name : {"system/zr.exe", "Game Data/file with spaces.txt", "COM10.dat", "x/ lead.txt", "a.b.c/.hidden",
                             "Карты/Город.dat", "№1.txt", "CONIN$", "COM0", "a/CLOCK$.x", "trail./x", "x/y:z", "q?"}) {
        std::string listPath;
        try {
            listPath = ListPath(name, true);
        } catch (const EPublishError&) {
            continue;
        }
        ++listed;
        EXPECT_TRUE(IsSafeRelativePath(listPath)) << name;
    }
    EXPECT_EQ(listed, 7u);
}

TEST(PublishNames, Cp1251ConversionMatchesTheCodePage) {
    std::string bytes;
    ASSERT_TRUE(Utf8ToCp1251("Привет, Ёё №1 «ї» €", bytes));
    EXPECT_EQ(bytes, "\xCF\xF0\xE8\xE2\xE5\xF2, \xA8\xB8 \xB9" "1 \xAB\xBF\xBB \x88");
    ASSERT_TRUE(Utf8ToCp1251("АЯая", bytes));
    EXPECT_EQ(bytes, "\xC0\xDF\xE0\xFF");
    EXPECT_FALSE(Utf8ToCp1251("ß", bytes)) << "German letters are not in 1251";
    EXPECT_FALSE(Utf8ToCp1251("\xC0\xAF", bytes)) << "overlong form of '/'";
    EXPECT_FALSE(Utf8ToCp1251("\xD0", bytes)) << "cut sequence";
    EXPECT_EQ(ListPath("Карты/Город.dat", true), "\xCA\xE0\xF0\xF2\xFB\\\xC3\xEE\xF0\xEE\xE4.dat");
    EXPECT_THROW(ListPath("Карты/Город.dat", false), EPublishError);
}

TEST(PublishNames, TheLaunchersExeNeedsAPlainNameItsBatchFileCanUse) {
    EXPECT_NO_THROW(CheckSelfName("Vandrel_Updater.exe"));
    EXPECT_NO_THROW(CheckSelfName("upd-2.exe"));
    for (const char* bad : {"", "bin\\upd.exe", "bin/upd.exe", "my upd.exe", "a&b.exe", "a|b.exe", "a<b", "a>b",
                            "a^b.exe", "50%.exe", "\"q\".exe", "hi!.exe", "up(1).exe", "CON.exe", "upd.exe.",
                            "Обновление.exe", "a,b.exe", "a;b.exe", "a=b.exe", "CLOCK$.exe"})
        EXPECT_THROW(CheckSelfName(bad), EPublishError) << bad;
}

TEST(PublishNames, PatternsAndTheLaunchersOwnFiles) {
    EXPECT_TRUE(GlobMatch("*.exe", "zr.EXE"));
    EXPECT_FALSE(GlobMatch("*.exe", "system\\zr.exe")) << "* stays within one name";
    EXPECT_TRUE(GlobMatch("system\\*.exe", "System\\zr.exe"));
    EXPECT_TRUE(GlobMatch("**\\*.exe", "zr.exe"));
    EXPECT_TRUE(GlobMatch("data\\**\\*.pak", "data\\a\\b\\c.pak"));
    EXPECT_TRUE(GlobMatch("a**b*c", "axxbyy\\bzc"));
    EXPECT_FALSE(GlobMatch("a?c", "a\\c"));
    EXPECT_TRUE(GlobMatch("a?c", "abc"));

    PathPatterns patterns({"*.log", "screenshots/", "./system/option.ini"});
    EXPECT_TRUE(patterns.Matches("logs\\deep\\today.LOG"));
    EXPECT_TRUE(patterns.Matches("screenshots\\2024\\shot.bmp"));
    EXPECT_FALSE(patterns.Matches("screenshots.txt"));
    EXPECT_TRUE(patterns.Matches("system\\option.ini"));
    EXPECT_FALSE(patterns.Matches("data\\system\\option.ini"));
    EXPECT_FALSE(PathPatterns().Matches("anything"));

    for (const char* own : {"_settings.ini", "files.lst", "FILES.LST.BZ2", "files.lst.bz2.SIG", "Update.bat", "backup",
                            "Backup\\a\\b.dat", "~Vandrel-Ahead\\0.bz2", "launcher.exe.new"})
        EXPECT_TRUE(names::IsLauncherOwnedPath(own, "Launcher.exe")) << own;
    for (const char* game : {"data\\files.lst", "backups\\a.dat", "system\\Update.bat", "settings.ini", "other.exe.New"})
        EXPECT_FALSE(names::IsLauncherOwnedPath(game, "Launcher.exe")) << game;
    // Windows takes Cyrillic capitals and small letters of code page 1251 for one name, Ё and ё too.
    EXPECT_EQ(FoldCase("Data\\\xC0\xE1\xA8\xB8.TXT"), "data\\\xE0\xE1\xB8\xB8.txt");
}

TEST(PublishCompress, JoinedPiecesAreOneStreamTheLauncherUnpacks) {
    const std::vector<size_t> sizes = {0, 1, kPieceSize - 1, kPieceSize, kPieceSize + 1, 3 * kPieceSize + 12345};
    for (size_t size : sizes) {
        SCOPED_TRACE(size);
        std::string data = RandomBytes(size / 2, uint32_t(size)) + std::string(size - size / 2, 'z');
        std::string payload = PublishCompress(data);
        EXPECT_EQ(payload.compare(0, 4, "BZh9"), 0);
        EXPECT_EQ(Unpack(payload), data);
    }
}

TEST(PublishCompress, APieceTooLargeForOneBlockIsCutAndStillJoinsCorrectly) {
    // Runs of exactly four equal bytes grow by a quarter in bzip2's first step: a whole piece of them
    // needs two blocks.
    std::string runs;
    for (size_t i = 0; runs.size() < kPieceSize; ++i) runs += std::string(4, static_cast<char>('a' + (i * 7) % 26));
    runs.resize(kPieceSize);
    uint32_t crc;
    uint64_t end;
    EXPECT_FALSE(FindSingleBlock(CompressBytes(runs.data(), runs.size()), crc, end));
    EXPECT_GE(CompressPiece(runs.data(), runs.size()).size(), 2u);
    std::string data = runs + RandomBytes(5000, 3) + runs;
    EXPECT_EQ(Unpack(PublishCompress(data)), data);
    EXPECT_TRUE(FindSingleBlock(CompressBytes("abc", 3), crc, end));
}

TEST(PublishCompress, AStreamWithoutExactlyOneBlockCannotBeJoined) {
    TMemoryStream target;
    TBZBlockJoiner joiner(target);
    EXPECT_THROW(joiner.Add(CompressBytes("", 0)), EBZCompressionError);
    EXPECT_THROW(joiner.Add("BZh9 not a stream at all, just text"), EBZCompressionError);
}
