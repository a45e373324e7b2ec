// The game settings dialog TForm1: a borderless 220 × 300 popup cut to the shape of its skin, with the
// resolution, colour depth, refresh rate and looting combo boxes, the low detail, full screen and backup
// check boxes, and the buttons "Применить" and "Отменить". It is created hidden right after the main
// window, reads the game's options once, and is shown over the main window, which it disables while open.
#pragma once

#include "settings/GameOptions.h"
#include "support/InstallFolder.h"

#include <windows.h>

#include <exception>
#include <functional>
#include <memory>
#include <string>

// What the dialog takes from the launcher besides its windows. Empty members get the launcher's own:
// the standard error box, and the skin bitmaps of the program's resources.
struct TForm1Services {
    std::function<void(const std::exception&)> ShowError;
    // A skin bitmap by resource name, or null when the program carries none; the dialog deletes it.
    std::function<HBITMAP(const wchar_t* name)> LoadBitmap;
};

class TForm1 {
public:
    // Control identifiers (GetDlgItem on Handle()).
    enum : int {
        kComboBox1 = 101, // resolution
        kComboBox2,       // colour depth
        kComboBox3,       // refresh rate
        kCheckBox1,       // low detail
        kCheckBox2,       // full screen
        kComboBox4,       // looting
        kCheckBox3,       // backups before an update
        kSpeedButton1,    // "Применить"
        kSpeedButton2,    // "Отменить"
    };
    // Resource names of the skin: the background (its pixel (0, 0) is the key colour cut out of the
    // window) and the two buttons in their normal, hover and pressed looks.
    static constexpr const wchar_t* kSkinBitmap = L"SETTINGS_BG";
    static constexpr const wchar_t* kApplyBitmaps[3] = {L"SETTINGS_APPLY_NORMAL", L"SETTINGS_APPLY_HOVER",
                                                        L"SETTINGS_APPLY_DOWN"};
    static constexpr const wchar_t* kCancelBitmaps[3] = {L"SETTINGS_CANCEL_NORMAL", L"SETTINGS_CANCEL_HOVER",
                                                         L"SETTINGS_CANCEL_DOWN"};

    // Creates the dialog hidden and fills its controls from the install folder's system\option.ini and
    // slotCreateBackup. A value that cannot be read is shown through ShowError; the dialog is created
    // all the same. The slot must outlive the dialog; the apply button writes it.
    static std::unique_ptr<TForm1> Create(HINSTANCE instance, HWND mainWindow, const TInstallFolder& folder,
                                          std::string& slotCreateBackup, TForm1Services services = {});
    ~TForm1();
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    HWND Handle() const { return hwnd_; }
    // Disables the main window and shows the dialog centred over it.
    void ShowOver(HWND mainWindow);
    // For the program's message loop: moves the focus between the dialog's controls with Tab and the
    // arrow keys. True when the message was used.
    bool TranslateDialogKeys(MSG* msg);

    // "Применить": writes the controls when the game's options file exists, then hides the dialog and
    // enables the main window. A refused write is shown through ShowError and the dialog stays open.
    void SpeedButton1Click();
    // "Отменить": hides the dialog and enables the main window; the controls keep their changes.
    void SpeedButton2Click();

private:
    struct Key {}; // only Create makes a dialog

public:
    TForm1(Key, TInstallFolder folder, std::string& slotCreateBackup, TForm1Services services);

private:
    struct Resources;

    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK ButtonProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                       DWORD_PTR self);
    LRESULT Message(UINT message, WPARAM wParam, LPARAM lParam);
    void FormCreate();
    void CreateControls(HINSTANCE instance);
    void Paint(HDC dc);
    void DrawButton(const DRAWITEMSTRUCT& item);
    void FormMouseDown(int x, int y);
    void FormMouseMove(int x, int y);
    void FormMouseUp();
    void Close();
    TGameOptionControls ReadControls() const;
    void WriteControls(const TGameOptionControls& controls);
    void ShowError(const std::exception& error);

    HWND hwnd_ = nullptr;
    HWND mainWindow_ = nullptr;
    const TInstallFolder folder_;
    std::string& slotCreateBackup_;
    TForm1Services services_;
    std::unique_ptr<Resources> resources_;
    bool hover_[2] = {false, false}; // the two buttons
    // Moving the borderless window: set between a press on the form's own surface and the release.
    bool Dragging = false;
    int DragX = 0;
    int DragY = 0;
};
