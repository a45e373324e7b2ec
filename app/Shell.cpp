#include "app/Shell.h"

#include "platform/Platform.h"
#include "platform/win32/LateBound.h"
#include "platform/win32/ScopedOwner.h"
#include "platform/Errors.h"
#include "widgets/GdiHandles.h"

#include <shlobj.h>
#include <shobjidl.h>

#include <cstdio>

const wchar_t kApplicationTitle[] = L"Vandrel_Updater";

using platform::win32::ComPtr;

namespace {
HWND applicationWindow = nullptr;
std::function<void(const std::string&)> errorReporter;

[[noreturn]] void RaiseComError(HRESULT result) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, static_cast<DWORD>(result), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message;
    if (text) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
        message.resize(size > 0 ? size - 1 : 0);
        if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, &message[0], size, nullptr, nullptr);
        LocalFree(text);
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
    }
    if (message.empty()) {
        char code[32];
        std::snprintf(code, sizeof code, "OLE error %08lX", static_cast<unsigned long>(result));
        message = code;
    }
    throw Exception(message);
}
} // namespace

void SetApplicationWindow(HWND window) { applicationWindow = window; }

void SetErrorReporter(std::function<void(const std::string& message)> reporter) {
    errorReporter = std::move(reporter);
}

void ShowException(const std::exception& error) {
    if (errorReporter) return errorReporter(error.what());
    const std::wstring message = ToWide(error.what());
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
    HRESULT result = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                      reinterpret_cast<void**>(link.Put()));
    if (FAILED(result)) RaiseComError(result);
    ComPtr<IPersistFile> file;
    result = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.Put()));
    if (FAILED(result)) RaiseComError(result);

    link->SetDescription(description.c_str());
    link->SetPath(platform::OwnExecutablePath().c_str());
    link->SetWorkingDirectory(workingFolder.c_str());
    const int size = MultiByteToWideChar(CP_ACP, 0, linkPath.c_str(), -1, nullptr, 0);
    std::wstring wide(size > 0 ? size : 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, linkPath.c_str(), -1, &wide[0], size);
    file->Save(wide.c_str(), FALSE);
}

void OpenLink(HWND owner, const std::string& url) {
    LATE_BOUND(L"shell32.dll", ShellExecuteA)(owner, nullptr, url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}
