// The game settings dialog TForm1: a borderless 220 × 300 popup cut to the shape of its skin, with the
// resolution, colour depth, refresh rate and looting combo boxes, the low detail, full screen and backup
// check boxes, and the buttons "Применить" and "Отменить". It is created hidden right after the main
// window, reads the game's options once, and is shown over the main window, which it disables while open.
#pragma once

#include "settings/GameOptions.h"
#include "support/InstallFolder.h"
#include "widgets/SkinForm.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

// What the dialog takes from the launcher besides its windows; an empty member gets the launcher's
// own. Errors go to the launcher's one error box (widgets/Shell.h), as the main window's do.
struct TForm1Services {
    // A skin bitmap by resource name, or none when the program carries none. By default, the
    // program's resources.
    std::function<gdi::Bitmap(const wchar_t* name)> LoadBitmap;
};

class TForm1 : public TSkinForm {
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
    // slotCreateBackup. A value that cannot be read is shown in the error box; the dialog is created
    // all the same. The slot must outlive the dialog; the apply button writes it. Raises
    // EWindowError when the system makes no window.
    static std::unique_ptr<TForm1> Create(HINSTANCE instance, HWND mainWindow, const TInstallFolder& folder,
                                          std::string& slotCreateBackup, TForm1Services services = {});
    ~TForm1() override;

    // Disables the main window and shows the dialog centred over it.
    void ShowOver(HWND mainWindow);
    // For the program's message loop: moves the focus between the dialog's controls with Tab and the
    // arrow keys. True when the message was used.
    bool TranslateDialogKeys(MSG* msg);

    // "Применить": writes the controls when the game's options file exists, then hides the dialog and
    // enables the main window. A refused write is shown in the error box and the dialog stays open.
    void SpeedButton1Click();
    // "Отменить": hides the dialog and enables the main window; the controls keep their changes.
    void SpeedButton2Click();

private:
    struct Key {}; // only Create makes a dialog

public:
    TForm1(Key, TInstallFolder folder, std::string& slotCreateBackup, TForm1Services services);

protected:
    bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

private:
    static LRESULT CALLBACK ButtonProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                       DWORD_PTR self);
    void FormCreate();
    void CreateControls(HINSTANCE instance);
    void LoadSkin();
    void DrawButton(const DRAWITEMSTRUCT& item);
    void Close();
    TGameOptionControls ReadControls() const;
    void WriteControls(const TGameOptionControls& controls);

    struct Resources;

    HWND mainWindow_ = nullptr;
    const TInstallFolder folder_;
    std::string& slotCreateBackup_;
    TForm1Services services_;
    std::unique_ptr<Resources> resources_;
    bool hover_[2] = {false, false}; // the two buttons
};
