#include "widgets/Shell.h"

#include "platform/Platform.h"
#include "platform/win32/LateBound.h"
#include "platform/win32/ScopedOwner.h"
#include "widgets/GuiErrors.h"
#include "widgets/WideText.h"

#include <shlobj.h>
#include <shobjidl.h>

using platform::win32::ComPtr;

const wchar_t kApplicationTitle[] = L"Vandrel_Updater";

namespace {
HWND applicationWindow = nullptr;
std::function<void(const std::string&)> errorReporter;
} // namespace

void SetApplicationWindow(HWND window) { applicationWindow = window; }

void SetErrorReporter(std::function<void(const std::string& message)> reporter) {
    errorReporter = std::move(reporter);
}

void ShowException(const std::exception& error) {
    if (errorReporter) return errorReporter(error.what());
    const std::wstring message = AnsiToWide(error.what());
    MessageBoxW(applicationWindow, message.c_str(), kApplicationTitle, MB_OK | MB_ICONSTOP);
}

void RunGuarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        ShowException(error);
    }
}

void CreateDesktopShortcut(const std::string& name, const std::string& workingFolder,
                           const std::string& description) {
    if (name.empty()) return;
    char desktop[MAX_PATH] = {};
    if (!LATE_BOUND(L"shell32.dll", SHGetSpecialFolderPathA)(nullptr, desktop, CSIDL_DESKTOPDIRECTORY, FALSE))
        return;
    const std::string linkPath = std::string(desktop) + "\\" + name + ".lnk";

    ComPtr<IShellLinkA> link;
    OleCheck(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                              reinterpret_cast<void**>(link.Put())));
    ComPtr<IPersistFile> file;
    OleCheck(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.Put())));
    OleCheck(link->SetDescription(description.c_str()));
    OleCheck(link->SetPath(platform::OwnExecutablePath().c_str()));
    OleCheck(link->SetWorkingDirectory(workingFolder.c_str()));
    // A desktop the player cannot write to is no error: the launcher runs without its shortcut.
    static_cast<void>(file->Save(AnsiToWide(linkPath).c_str(), FALSE));
}

void OpenLink(HWND owner, const std::string& url) {
    LATE_BOUND(L"shell32.dll", ShellExecuteA)(owner, nullptr, url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}
