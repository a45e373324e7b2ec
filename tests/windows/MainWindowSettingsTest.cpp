// What the main window keeps and how it closes, under Wine: the revision store beside the backup
// setting, the desktop shortcut, closing from the taskbar, and a dialog that cannot be made.
#include "tests/windows/MainWindowFixture.h"

using namespace testutil;

TEST_F(MainWindow, StoresTheRevisionBesideTheBackupSettingAndWritesTheShortcut) {
    WriteBytes(client / "_settings.ini", "[main]\r\nCreateBackup=1\r\n");
    const std::string link = Desktop() + "\\VandrelTest.lnk";
    platform::RemoveFile(link);
    Open();
    window->UpdateRevision("7");
    const std::string settings = ReadBytes(client / "_settings.ini");
    EXPECT_NE(settings.find("CreateBackup=1"), std::string::npos);
    EXPECT_NE(settings.find("AtRevision=7"), std::string::npos);
    EXPECT_EQ((*window->Config)[SlotRevision], "0");

    const auto readLink = [&](std::string* target, std::string* folder, std::string* description) {
        platform::win32::ComPtr<IShellLinkA> shell;
        platform::win32::ComPtr<IPersistFile> file;
        ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                               reinterpret_cast<void**>(shell.Put()))));
        ASSERT_TRUE(SUCCEEDED(shell->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.Put()))));
        std::wstring wide(link.begin(), link.end());
        ASSERT_TRUE(SUCCEEDED(file->Load(wide.c_str(), STGM_READ)));
        char text[MAX_PATH] = {};
        shell->GetPath(text, MAX_PATH, nullptr, 0);
        *target = text;
        shell->GetWorkingDirectory(text, MAX_PATH);
        *folder = text;
        shell->GetDescription(text, MAX_PATH);
        *description = text;
    };
    std::string target, folder, description;
    readLink(&target, &folder, &description);
    EXPECT_EQ(target, platform::OwnExecutablePath());
    EXPECT_EQ(folder, client.Path() + "\\");
    EXPECT_EQ(description, "Play Tessel");

    // Rewritten at every start; an empty name writes none.
    WriteBytes(link, "not a link");
    window.reset();
    Open();
    readLink(&target, &folder, &description);
    EXPECT_EQ(description, "Play Tessel");
    platform::RemoveFile(link);
    window.reset();
    Open("");
    EXPECT_FALSE(platform::IsFile(link));
    EXPECT_FALSE(platform::IsFile(Desktop() + "\\.lnk"));

    // A run's last call arriving after the window's close: the configuration list is gone, the revision
    // is still stored.
    window->FormClose();
    ASSERT_FALSE(window->Config);
    window->UpdateRevision("12");
    EXPECT_NE(ReadBytes(client / "_settings.ini").find("AtRevision=12"), std::string::npos);
    EXPECT_TRUE(errors.empty());
}

TEST_F(MainWindow, ClosingFromTheTaskbarGoesThroughFormClose) {
    TLauncherApp app(TInstallFolder::Current(), Branding());
    app.Show();
    Pump(50);
    ASSERT_TRUE(app.Form1);
    // The taskbar button's Close: the system's close command to the window that carries the button.
    PostMessageW(app.Application(), WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(PumpUntil([&] { return !IsWindow(app.FMain->Handle()); }, 2000));
    EXPECT_FALSE(app.FMain->Config); // released by FormClose, as the close button does
    EXPECT_FALSE(app.Form1);         // and the dialog before it
    EXPECT_TRUE(IsWindow(app.Application()));
    MSG quit;
    PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE); // the closed main window ended the loop
}

TEST_F(MainWindow, ADialogThatCannotBeMadeIsReportedAndTheLauncherRunsWithoutIt) {
    TForm1Services failing;
    failing.LoadBitmap = [](const wchar_t*) -> gdi::Bitmap { throw EWindowError("Cannot create the window"); };
    TLauncherApp app(TInstallFolder::Current(), Branding(), failing);
    app.Show();
    EXPECT_EQ(errors, std::vector<std::string>{"Cannot create the window"});
    EXPECT_FALSE(app.Form1);
    EXPECT_TRUE(IsWindowVisible(app.FMain->Handle()));
    app.FMain->ImgBtn8Click(); // the settings link opens nothing
    EXPECT_TRUE(IsWindowEnabled(app.FMain->Handle()));
}
