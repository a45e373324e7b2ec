// The launcher's windows for one run of the program: the application window that carries the
// taskbar button and owns the main window, the main window, and the hidden game settings dialog; and
// the message loop until the main window closes.
#pragma once

#include "app/UnitMain.h"
#include "settings/Frm2.h"
#include "widgets/SkinForm.h"

#include <memory>

class TLauncherApp {
public:
    // Makes the application window and the main window, hidden. Raises when the main window cannot be
    // made. dialogServices: for the settings dialog (tests give it their own skin pictures).
    explicit TLauncherApp(const TInstallFolder& folder, const TBranding& branding = BuiltInBranding(),
                          TForm1Services dialogServices = {});
    ~TLauncherApp();
    TLauncherApp(const TLauncherApp&) = delete;
    TLauncherApp& operator=(const TLauncherApp&) = delete;

    // Shows the main window, then creates the settings dialog: its creation reads the configuration
    // list made by the main window's FormCreate. A dialog that cannot be made is reported in the error
    // box and left out; the launcher runs without it.
    void Show();
    // Dispatches messages until the main window has closed.
    void Run();
    // The window that carries the taskbar button, titled "Vandrel_Updater".
    HWND Application() const { return application_.Get(); }

    std::unique_ptr<TFMain> FMain;
    std::unique_ptr<TForm1> Form1; // null without a dialog

private:
    OwnedWindow application_;
    TInstallFolder folder_;
    TForm1Services dialogServices_;
};
