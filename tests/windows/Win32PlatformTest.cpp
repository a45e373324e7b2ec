// The Win32 backend against the real system calls (run under Wine).
#include "platform/Errors.h"
#include "platform/Platform.h"
#include "support/Misc.h"
#include "support/md5.h"
#include "tests/common/TestUtil.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

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

namespace {
// Whether any allowed entry of a file's access list is for somebody other than the user running the
// tests or the system itself (Everyone, Users, ...).
bool OthersMayRead(const std::string& path) {
    std::vector<char> descriptor(4096);
    DWORD needed = 0;
    if (!GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(),
                          static_cast<DWORD>(descriptor.size()), &needed))
        return true;
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    GetSecurityDescriptorDacl(descriptor.data(), &present, &acl, &defaulted);
    if (!present || !acl) return true; // no list at all lets everybody in
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    char user[256];
    GetTokenInformation(token, TokenUser, user, sizeof user, &needed);
    CloseHandle(token);
    char system[SECURITY_MAX_SID_SIZE];
    DWORD systemSize = sizeof system;
    CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &systemSize);
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        void* ace = nullptr;
        GetAce(acl, i, &ace);
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        if (allowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
        PSID sid = &allowed->SidStart;
        if (!EqualSid(sid, reinterpret_cast<TOKEN_USER*>(user)->User.Sid) && !EqualSid(sid, system)) return true;
    }
    return false;
}
} // namespace

TEST(Win32Files, ASecretFileIsForItsOwnerAlone) {
    TempDir dir;
    platform::WriteNewFile(dir / "plain", "public", false);
    platform::WriteNewFile(dir / "secret", "private", true);
    EXPECT_EQ(ReadBytes(dir / "secret"), "private");
    EXPECT_TRUE(OthersMayRead(dir / "plain"));
    EXPECT_FALSE(OthersMayRead(dir / "secret"));
    EXPECT_THROW(platform::WriteNewFile(dir / "secret", "again", true), EFCreateError);
}
