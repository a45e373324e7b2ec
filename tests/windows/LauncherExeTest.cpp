// The launcher's exe as Windows reads it: its version block, manifest and icon.
#include "tests/windows/MainWindowFixture.h"

using namespace testutil;

TEST(LauncherExe, CarriesItsVersionBlockManifestAndIcon) {
    const char* built = getenv("VANDREL_LAUNCHER");
    ASSERT_TRUE(built);
    std::string exe = std::string("Z:") + built;
    for (char& c : exe)
        if (c == '/') c = '\\';
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(exe.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(exe.c_str(), 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(0, 2));
    EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(800, 2));
    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                               &length));
    EXPECT_EQ(translation[0], 0x0419); // Russian
    EXPECT_EQ(translation[1], 1251);
    const auto text = [&](const char* name) {
        char* value = nullptr;
        const std::string key = std::string("\\StringFileInfo\\041904E3\\") + name;
        return VerQueryValueA(block.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) ? std::string(value)
                                                                                                  : std::string();
    };
    EXPECT_EQ(text("FileDescription"), "DoVevevaz");
    EXPECT_EQ(text("ProductName"), "DoVevevaz");
    EXPECT_EQ(text("InternalName"), "Ri DureRivudid");
    EXPECT_EQ(text("FileVersion"), "2.0.2.800");
    EXPECT_EQ(text("ProductVersion"), "2.0.0.0");

    HMODULE image = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(image);
    HRSRC manifest = FindResourceA(image, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_TRUE(manifest);
    const std::string xml(static_cast<const char*>(LockResource(LoadResource(image, manifest))),
                          SizeofResource(image, manifest));
    EXPECT_NE(xml.find("requestedExecutionLevel level=\"requireAdministrator\""), std::string::npos);
    EXPECT_NE(xml.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_TRUE(FindResourceA(image, "MAINICON", MAKEINTRESOURCEA(14))); // RT_GROUP_ICON
    FreeLibrary(image);
}
