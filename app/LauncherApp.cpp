#include "app/LauncherApp.h"

#include "widgets/Shell.h"

namespace {
const wchar_t kApplicationClass[] = L"VandrelApplication";

// Closing from the taskbar (the system's close command to the window that carries the button) closes
// the main window as its close button does, through FormClose, instead of destroying it along with
// its owner. The application window itself goes only with the launcher.
LRESULT CALLBACK ApplicationProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_CLOSE) return DefWindowProcW(hwnd, message, wParam, lParam);
    if (HWND main = reinterpret_cast<HWND>(GetWindowLongPtrW(hwnd, GWLP_USERDATA)); IsWindow(main))
        PostMessageW(main, WM_CLOSE, 0, 0);
    return 0;
}

// The taskbar button belongs to an application window titled "Vandrel_Updater" that owns the main
// window, whose own caption stays "FormMain".
HWND CreateApplicationWindow() {
    RegisterWindowClass(kApplicationClass, ApplicationProc);
    return CreateWindowExW(0, kApplicationClass, kApplicationTitle,
                           WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, 0, 0, 0, 0, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}
} // namespace

TLauncherApp::TLauncherApp(const TInstallFolder& folder, const TBranding& branding,
                           TForm1Services dialogServices)
    : application_(CreateApplicationWindow()), folder_(folder), dialogServices_(std::move(dialogServices)) {
    FMain = std::make_unique<TFMain>(folder_, branding, Application());
    if (application_)
        SetWindowLongPtrW(Application(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(FMain->Handle()));
}

// The dialog refers to the main window, and the main window to the application window that owns it.
TLauncherApp::~TLauncherApp() {
    Form1.reset();
    FMain.reset();
}

// A dialog that cannot be made is shown in the error box; the launcher runs on without it (and so does
// one whose configuration list FormCreate could not make, the error of which is shown already).
void TLauncherApp::Show() {
    FMain->Show();
    if (FMain->Config)
        RunGuarded([this] {
            Form1 = TForm1::Create(GetModuleHandleW(nullptr), FMain->Handle(), folder_,
                                   (*FMain->Config)[SlotCreateBackup], dialogServices_);
        });
    FMain->OnOpenSettings = [this] {
        if (Form1) Form1->ShowOver(FMain->Handle());
    };
    FMain->OnClosing = [this] { Form1.reset(); }; // it refers to the configuration list, released next
}

void TLauncherApp::Run() {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (Form1 && Form1->TranslateDialogKeys(&message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}
