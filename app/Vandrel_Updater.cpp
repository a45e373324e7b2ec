// The launcher's entry: COM for the window thread, the main window, the hidden settings dialog, and
// the message loop until the main window closes.
#include "app/UnitMain.h"
#include "settings/Frm2.h"
#include "widgets/Shell.h"

#include <objbase.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // A single-threaded apartment: the shortcut object and the news browser need it.
    OleInitialize(nullptr);
    // The taskbar button belongs to an application window titled "Vandrel_Updater" that owns the
    // main window, whose own caption stays "FormMain".
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hIcon = LoadIconW(wc.hInstance, L"MAINICON");
    wc.lpszClassName = L"VandrelApplication";
    RegisterClassExW(&wc);
    HWND application = CreateWindowExW(0, wc.lpszClassName, kApplicationTitle,
                                       WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, 0, 0, 0, 0, nullptr,
                                       nullptr, wc.hInstance, nullptr);
    // The install folder is the folder the launcher was started in, taken once, here.
    const TInstallFolder installFolder = TInstallFolder::Current();
    std::unique_ptr<TFMain> FMain;
    try {
        FMain = std::make_unique<TFMain>(installFolder, BuiltInBranding(), application);
    } catch (const std::exception& error) {
        ShowException(error);
        return 1;
    }
#ifdef VANDREL_EXIT_AFTER_FIRST_PAINT
    FMain->OnPainted = [] { ExitProcess(0); }; // the start-up benchmark's build only
#endif
    FMain->Show();
    // The settings dialog comes second: its creation reads the configuration list.
    std::unique_ptr<TForm1> Form1 = TForm1::Create(GetModuleHandleW(nullptr), FMain->Handle(), installFolder,
                                                   (*FMain->Config)[SlotCreateBackup]);
    FMain->OnOpenSettings = [&] { Form1->ShowOver(FMain->Handle()); };
    FMain->OnClosing = [&] { Form1.reset(); }; // it refers to the configuration list, released next

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (Form1 && Form1->TranslateDialogKeys(&message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    // A run still in progress is not waited for: every file it touches is old or new at any moment,
    // so the process ends here without unwinding what the worker still uses.
    if (FMain->RunInProgress()) ExitProcess(0);
    Form1.reset();
    FMain.reset();
    DestroyWindow(application);
    OleUninitialize();
    return 0;
}
