// The Win32 backend against the real system calls (run under Wine).
#include "platform/Platform.h"
#include "support/Misc.h"
#include "support/md5.h"
#include "tests/common/TestUtil.h"

#include <gtest/gtest.h>
#include <windows.h>

using namespace testutil;

TEST(Win32Digest, ReadsAFileHeldOpenForWritingAndRefusesOneHeldExclusively) {
    TempDir dir;
    WriteBytes(dir / "open.dat", "abc");
    HANDLE writer = CreateFileA((dir / "open.dat").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Md5OfFile(dir / "open.dat"), "900150983cd24fb0d6963f7d28e17f72");
    CloseHandle(writer);

    HANDLE exclusive = CreateFileA((dir / "open.dat").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Md5OfFile(dir / "open.dat"), "d41d8cd98f00b204e9800998ecf8427e");
    CloseHandle(exclusive);
}

TEST(Win32RunProgram, StartsAQuotedPathInItsOwnFolder) {
    const char* marker = getenv("VANDREL_MARKER");
    ASSERT_NE(marker, nullptr) << "VANDREL_MARKER names the stand-in game";
    TempDir dir;
    RestoreFolder restore; // back out of dir before it is deleted
    // Blanks in the path: unquoted, "...\Program" would be started instead.
    std::string folder = dir / ("Program Files\\" + std::string(110, 'g') + "\\system");
    ASSERT_TRUE(platform::MakeFolders(folder));
    std::string game = folder + "\\zr.exe";
    std::string markerPath = std::string("Z:") + ReplaceAll(marker, "/", "\\");
    ASSERT_TRUE(platform::CopyFileReplacing(markerPath, game)) << markerPath;

    RunProgram(game);
    EXPECT_EQ(platform::CurrentFolder() + "\\", folder + "\\");
    std::string note = folder + "\\started-here.txt";
    for (int i = 0; i < 300 && !platform::IsFile(note); ++i) Sleep(20);
    ASSERT_TRUE(platform::IsFile(note));
    Sleep(100);
    EXPECT_EQ(ReadBytes(note), folder);
}

TEST(Win32Folders, TheWindowsFolderIsReported) {
    std::string windows = platform::WindowsFolder();
    EXPECT_FALSE(windows.empty());
    EXPECT_TRUE(platform::IsFolder(windows));
}
