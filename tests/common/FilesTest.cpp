#include "platform/Platform.h"
#include "platform/Errors.h"
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

TEST(Files, LinksOnNamesTheLauncherOwnsAreNeverFollowed) {
    // What another program could point the launcher's names at: a file and a folder of somebody else's.
    TempDir victim, dir;
    WriteBytes(victim / "file", "victim");
    ASSERT_TRUE(platform::MakeFolders(victim / "folder\\inner"));
    WriteBytes(victim / "folder\\inner\\deep", "victim");
    const auto untouched = [&] {
        EXPECT_EQ(ReadBytes(victim / "file"), "victim");
        EXPECT_EQ(ReadBytes(victim / "folder\\inner\\deep"), "victim");
        EXPECT_FALSE(platform::IsFile(victim / "nothing"));
    };
    WriteBytes(dir / "source", "ours");
    for (const char* name : {"created", "copied", "moved", "removed"})
        ASSERT_TRUE(MakeSymbolicLink(victim / "file", dir / name)) << name;
    ASSERT_TRUE(MakeSymbolicLink(victim / "nothing", dir / "dangling"));

    // A file made on a link's name is a new file of its own; a copy or a rename replaces the name.
    platform::File created = platform::File::Create(dir / "created");
    created.Write("new", 3);
    created.Close();
    platform::File::Create(dir / "dangling").Close();
    EXPECT_TRUE(platform::CopyFileReplacing(dir / "source", dir / "copied"));
    EXPECT_TRUE(platform::MoveFileReplacing(dir / "source", dir / "moved"));
    EXPECT_TRUE(platform::RemoveFile(dir / "removed"));
    untouched();
    EXPECT_EQ(ReadBytes(dir / "created"), "new");
    EXPECT_EQ(ReadBytes(dir / "copied"), "ours");
    EXPECT_EQ(ReadBytes(dir / "moved"), "ours");
    EXPECT_FALSE(platform::IsFile(dir / "removed"));
    EXPECT_FALSE(platform::IsLink(dir / "created"));

    // A tree is deleted without crossing the links in it.
    ASSERT_TRUE(platform::MakeFolders(dir / "tree\\sub"));
    WriteBytes(dir / "tree\\sub\\own", "x");
    ASSERT_TRUE(MakeSymbolicLink(victim / "file", dir / "tree\\sub\\to-file"));
    ASSERT_TRUE(MakeSymbolicLink(victim / "folder", dir / "tree\\to-folder"));
    platform::DeleteFolderTree(dir / "tree");
    untouched();
    EXPECT_FALSE(platform::IsFile(dir / "tree\\sub\\own"));

    // A folder of the launcher's own is never entered through a link; one planted on its name goes as
    // a link where the system can remove just the link (Wine cannot: there it stays, unused).
    ASSERT_TRUE(MakeSymbolicLink(victim / "folder", dir / "own"));
    EXPECT_FALSE(platform::MakeOwnFolders(dir / "own", "made"));
    platform::DeleteFolderTree(dir / "own");
    untouched();
    EXPECT_FALSE(platform::IsFolder(victim / "folder\\made"));
    EXPECT_EQ(platform::IsLink(dir / "own"), UnderWine());
    RemoveSymbolicLink(dir / "own");
    EXPECT_TRUE(platform::MakeOwnFolders(dir / "mine", "a\\b"));
    EXPECT_TRUE(platform::IsFolder(dir / "mine\\a\\b"));
    ASSERT_TRUE(MakeSymbolicLink(victim / "folder", dir / "mine\\a\\c"));
    EXPECT_FALSE(platform::MakeOwnFolders(dir / "mine", "a\\c\\d"));
    EXPECT_FALSE(platform::IsFolder(victim / "folder\\d"));

    // A file of the launcher's own that it goes on writing or reads back (a cut download's part and
    // its validator, a chunk index) is never reached through a link on its name or on a folder on the
    // way, although Wine shows a link to a file as the file itself. The anchor may be a link.
    ASSERT_TRUE(MakeSymbolicLink(victim / "file", dir / "mine\\a\\part"));
    ASSERT_TRUE(MakeSymbolicLink(dir.Path(), dir / "anchor"));
    for (const platform::OwnName& name : {platform::OwnName{dir.Path(), "mine\\a\\part"},
                                          platform::OwnName{dir.Path(), "mine\\a\\c\\inner\\deep"}}) {
        EXPECT_THROW(platform::File::OpenAppend(name), EFOpenError) << name.relative;
        EXPECT_FALSE(platform::File::TryOpenOwnRead(name).IsOpen()) << name.relative;
    }
    WriteBytes(dir / "mine\\a\\own", "ours");
    platform::File appended = platform::File::OpenAppend({dir / "anchor", "mine\\a\\own"});
    appended.Write("!", 1);
    appended.Close();
    EXPECT_EQ(ReadBytes(dir / "mine\\a\\own"), "ours!");
    EXPECT_TRUE(platform::File::TryOpenOwnRead({dir.Path(), "mine\\a\\own"}).IsOpen());
    RemoveSymbolicLink(dir / "anchor");
    RemoveSymbolicLink(dir / "mine\\a\\c");
    platform::DeleteFolderTree(dir / "mine");
    untouched();
}
