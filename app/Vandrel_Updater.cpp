// The launcher's entry: COM for the window thread, the launcher's windows, and the message loop until
// the main window closes.
#include "app/LauncherApp.h"
#include "widgets/Shell.h"

#include <objbase.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // A single-threaded apartment: the shortcut object and the news browser need it.
    OleInitialize(nullptr);
    std::unique_ptr<TLauncherApp> app;
    try {
        // The install folder is the folder the launcher was started in, taken once, here.
        app = std::make_unique<TLauncherApp>(TInstallFolder::Current());
    } catch (const std::exception& error) {
        ShowException(error);
        return 1;
    }
#ifdef VANDREL_EXIT_AFTER_FIRST_PAINT
    app->FMain->OnPainted = [] { ExitProcess(0); }; // the start-up benchmark's build only
#endif
    app->Show();
    app->Run();
    // A run still in progress is not waited for: every file it touches is old or new at any moment,
    // so the process ends here without unwinding what the worker still uses.
    if (app->FMain->RunInProgress()) ExitProcess(0);
    app.reset();
    OleUninitialize();
    return 0;
}
