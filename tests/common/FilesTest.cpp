#include "platform/Platform.h"
#include "support/Errors.h"
#include "support/Misc.h"
#include "tests/common/TestUtil.h"

#include <gtest/gtest.h>

using namespace testutil;

TEST(Files, FoldersAreMadeWithParentsAndDeletedWithEverythingInThem) {
    TempDir dir;
    std::string deep = dir / "backup\\data\\maps";
    EXPECT_TRUE(platform::MakeFolders(deep));
    EXPECT_TRUE(platform::IsFolder(deep));
    EXPECT_FALSE(platform::IsFile(deep));
    WriteBytes(deep + "\\area.dat", "x");
    WriteBytes(dir / "backup\\top.dat", "y");
    EXPECT_TRUE(platform::IsFile(deep + "\\area.dat"));
    EXPECT_FALSE(platform::IsFolder(deep + "\\area.dat"));

    DeleteFolder(dir / "backup");
    EXPECT_FALSE(platform::IsFolder(dir / "backup"));
    DeleteFolder(dir / "never-existed"); // no effect, no error
    EXPECT_TRUE(platform::IsFolder(dir.Path()));
}

TEST(Files, CopyAndMoveReplaceTheirTarget) {
    TempDir dir;
    WriteBytes(dir / "a", "new");
    WriteBytes(dir / "b", "old contents");
    EXPECT_TRUE(platform::CopyFileReplacing(dir / "a", dir / "b"));
    EXPECT_EQ(ReadBytes(dir / "b"), "new");
    EXPECT_FALSE(platform::CopyFileReplacing(dir / "missing", dir / "c"));
    EXPECT_FALSE(platform::IsFile(dir / "c"));
    WriteBytes(dir / "t", "replacement");
    EXPECT_TRUE(platform::MoveFileReplacing(dir / "t", dir / "b"));
    EXPECT_EQ(ReadBytes(dir / "b"), "replacement");
    EXPECT_FALSE(platform::IsFile(dir / "t"));
    EXPECT_TRUE(platform::RemoveFile(dir / "b"));
    EXPECT_FALSE(platform::RemoveFile(dir / "b"));
}

TEST(Files, StreamsReadWriteSeekAndReportErrors) {
    TempDir dir;
    platform::File file = platform::File::Create(dir / "f");
    file.Write("hello world", 11);
    EXPECT_EQ(file.Size(), 11);
    EXPECT_EQ(file.Seek(6, platform::File::Origin::Begin), 6);
    char buffer[16];
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 5u);
    EXPECT_EQ(std::string(buffer, 5), "world");
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 0u);
    file.Close();
    EXPECT_FALSE(file.IsOpen());
    EXPECT_THROW(platform::File::OpenRead(dir / "missing"), EFOpenError);
    EXPECT_THROW(platform::File::Create(dir / "missing\\f"), EFCreateError);
}

TEST(RunProgram, AFolderThatCannotBeMadeCurrentRaisesBeforeAnythingStarts) {
    TempDir dir;
    std::string before = platform::CurrentFolder();
    EXPECT_THROW(RunProgram(dir / "no-such-folder\\zr.exe"), EInOutError);
    EXPECT_EQ(platform::CurrentFolder(), before);
}

TEST(Files, AMappedFileOpenedAgainShowsTheNewFileOnly) {
    TempDir dir;
    WriteBytes(dir / "first", std::string(100, '1'));
    WriteBytes(dir / "second", std::string(50, '2'));
    platform::MappedFile file;
    ASSERT_TRUE(file.Open(dir / "first"));
    ASSERT_NE(file.View(0, 100), nullptr);
    ASSERT_TRUE(file.Open(dir / "second"));
    EXPECT_EQ(file.Size(), 50u);
    const unsigned char* view = file.View(0, 50);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(view), 50), std::string(50, '2'));
    EXPECT_FALSE(file.Open(dir / "missing"));
    EXPECT_EQ(file.View(0, 50), nullptr);
}
