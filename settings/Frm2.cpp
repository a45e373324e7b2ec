#include "settings/Frm2.h"

#include "settings/Frm2Layout.h"
#include "widgets/GuiErrors.h"
#include "widgets/Shell.h"
#include "widgets/WideText.h"

#include <commctrl.h>
#include <uxtheme.h>

#include <array>
#include <vector>

namespace {

constexpr wchar_t kClassName[] = L"TForm1";
// The dialog's surface where the skin picture is missing.
constexpr TColor kFallbackColour = settingsui::kCheckBoxColour;
// The buttons' looks where their pictures are missing: normal, hover, pressed.
constexpr TColor kFallbackButtonColours[3] = {RgbColor(0x2F, 0x3C, 0x53), RgbColor(0x3E, 0x4F, 0x6D),
                                              RgbColor(0x1B, 0x24, 0x36)};

SIZE BitmapSize(HBITMAP bitmap) {
    BITMAP info{};
    GetObjectW(bitmap, sizeof info, &info);
    return SIZE{info.bmWidth, info.bmHeight < 0 ? -info.bmHeight : info.bmHeight};
}

bool IsComboBox(HWND control) {
    const int id = GetDlgCtrlID(control);
    return id == TForm1::kComboBox1 || id == TForm1::kComboBox2 || id == TForm1::kComboBox3 ||
           id == TForm1::kComboBox4;
}

} // namespace

struct TForm1::Resources {
    gdi::Brush comboBrush{CreateSolidBrush(settingsui::kComboBoxColour)};
    gdi::Brush checkBrush{CreateSolidBrush(settingsui::kCheckBoxColour)};
    gdi::Bitmap skin;
    std::array<gdi::Bitmap, 3> apply, cancel; // normal, hover, pressed
    // The captions, drawn on the skin by the form; like any control, one takes a press on it, so a
    // press there does not drag the window.
    std::vector<std::unique_ptr<TLabel>> labels;
};

TForm1::TForm1(Key, TInstallFolder folder, std::string& slotCreateBackup, TForm1Services services)
    : folder_(std::move(folder)), slotCreateBackup_(slotCreateBackup), services_(std::move(services)),
      resources_(std::make_unique<Resources>()) {}

// The window goes first: its buttons' last messages still reach this dialog.
TForm1::~TForm1() { DestroyHandle(); }

std::unique_ptr<TForm1> TForm1::Create(HINSTANCE instance, HWND mainWindow, const TInstallFolder& folder,
                                       std::string& slotCreateBackup, TForm1Services services) {
    if (!services.LoadBitmap) services.LoadBitmap = LoadSkinBitmap;
    auto form = std::make_unique<TForm1>(Key{}, folder, slotCreateBackup, std::move(services));
    form->LoadSkin();
    // Hidden, owned by the main window so that it stays above it and has no taskbar button of its own.
    form->mainWindow_ = mainWindow;
    TFormParams window;
    window.ClassName = kClassName;
    window.Caption = L"Form1";
    window.ClientWidth = settingsui::kClientWidth;
    window.ClientHeight = settingsui::kClientHeight;
    window.Owner = mainWindow;
    window.CentreOverOwner = true;
    form->CreateHandle(window);
    form->CreateControls(instance);
    form->FormCreate();
    return form;
}

void TForm1::LoadSkin() {
    Resources& r = *resources_;
    r.skin = services_.LoadBitmap(kSkinBitmap);
    for (int i = 0; i < 3; ++i) {
        r.apply[i] = services_.LoadBitmap(kApplyBitmaps[i]);
        r.cancel[i] = services_.LoadBitmap(kCancelBitmaps[i]);
    }
}

// The controls in their tab order (the order of creation), then the two buttons, which take no tab
// stop, then the captions.
void TForm1::CreateControls(HINSTANCE instance) {
    HFONT font = SkinFont();
    auto add = [&](const wchar_t* cls, const std::wstring& text, DWORD style, const settingsui::TPlace& place,
                   int id, int height) {
        HWND control = CreateWindowExW(0, cls, text.c_str(), WS_CHILD | WS_VISIBLE | style, place.Left,
                                       place.Top, place.Width, height, Handle(),
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
        if (!control) throw EWindowError("cannot create the settings dialog's controls");
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        return control;
    };
    auto combo = [&](int id, const settingsui::TPlace& place, const auto& items) {
        // The height given is the dropped-down list's; the closed box is then made exactly place.Height.
        HWND box = add(WC_COMBOBOXW, L"", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, place, id, 200);
        SetWindowTheme(box, L"", L""); // the colours below hold whatever visual style is on
        for (const char* item : items)
            SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Utf8ToWide(item).c_str()));
        RECT rect;
        GetWindowRect(box, &rect);
        const LRESULT itemHeight = SendMessageW(box, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0);
        const LONG difference = place.Height - (rect.bottom - rect.top);
        if (difference != 0 && itemHeight + difference > 0)
            SendMessageW(box, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), itemHeight + difference);
    };
    auto check = [&](int id, const settingsui::TPlace& place, const char* caption) {
        HWND box = add(WC_BUTTONW, Utf8ToWide(caption), WS_TABSTOP | BS_AUTOCHECKBOX, place, id, place.Height);
        SetWindowTheme(box, L"", L"");
    };
    combo(kComboBox1, settingsui::kComboBox1Place, settingsui::kComboBox1Items);
    combo(kComboBox2, settingsui::kComboBox2Place, settingsui::kComboBox2Items);
    combo(kComboBox3, settingsui::kComboBox3Place, settingsui::kComboBox3Items);
    check(kCheckBox1, settingsui::kCheckBox1Place, settingsui::kCheckBox1Caption);
    check(kCheckBox2, settingsui::kCheckBox2Place, settingsui::kCheckBox2Caption);
    combo(kComboBox4, settingsui::kComboBox4Place, settingsui::kComboBox4Items);
    check(kCheckBox3, settingsui::kCheckBox3Place, settingsui::kCheckBox3Caption);
    for (int i = 0; i < 2; ++i) {
        const settingsui::TPlace& place = i == 0 ? settingsui::kApplyButtonPlace : settingsui::kCancelButtonPlace;
        const char* caption = i == 0 ? settingsui::kApplyButtonCaption : settingsui::kCancelButtonCaption;
        HWND button = add(WC_BUTTONW, Utf8ToWide(caption), BS_OWNERDRAW, place,
                          i == 0 ? kSpeedButton1 : kSpeedButton2, place.Height);
        SetWindowSubclass(button, ButtonProc, static_cast<UINT_PTR>(i), reinterpret_cast<DWORD_PTR>(this));
    }

    // Each caption covers its text's extent.
    const gdi::WindowDC dc = gdi::ClientDC(Handle());
    for (const settingsui::TLabel& caption : settingsui::kLabels) {
        HFONT face = SkinFont(caption.Bold);
        const gdi::Selected select(dc.Get(), face);
        const std::wstring text = Utf8ToWide(caption.Caption);
        SIZE size{};
        GetTextExtentPoint32W(dc.Get(), text.c_str(), static_cast<int>(text.size()), &size);
        auto label = std::make_unique<TLabel>(caption.Left, caption.Top, size.cx, size.cy, true);
        label->Font = face;
        label->FontColor = settingsui::kCaptionColour;
        label->SetCaption(caption.Caption);
        AddControl(*label);
        resources_->labels.push_back(std::move(label));
    }
}

void TForm1::FormCreate() {
    // The skin covers the client area from its top-left corner; its key colour is cut out of the window.
    if (resources_->skin) {
        SetBackgroundPicture(resources_->skin.Get());
        ApplySkinRegion(resources_->skin.Get());
    } else {
        SetBackgroundColor(kFallbackColour);
    }
    TGameOptionControls controls;
    try {
        LoadGameOptions(controls, GameOptionsPath(folder_), slotCreateBackup_);
    } catch (const std::exception& error) {
        WriteControls(controls); // what was read before the error
        ShowException(error);
        return;
    }
    WriteControls(controls);
}

TGameOptionControls TForm1::ReadControls() const {
    auto selected = [&](int id) {
        return static_cast<int>(SendDlgItemMessageW(Handle(), id, CB_GETCURSEL, 0, 0));
    };
    auto checked = [&](int id) { return IsDlgButtonChecked(Handle(), id) == BST_CHECKED; };
    TGameOptionControls c;
    c.ComboBox1 = selected(kComboBox1);
    c.ComboBox2 = selected(kComboBox2);
    c.ComboBox3 = selected(kComboBox3);
    c.ComboBox4 = selected(kComboBox4);
    c.CheckBox1 = checked(kCheckBox1);
    c.CheckBox2 = checked(kCheckBox2);
    c.CheckBox3 = checked(kCheckBox3);
    return c;
}

void TForm1::WriteControls(const TGameOptionControls& c) {
    auto select = [&](int id, int index) {
        SendDlgItemMessageW(Handle(), id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    };
    auto check = [&](int id, bool on) { CheckDlgButton(Handle(), id, on ? BST_CHECKED : BST_UNCHECKED); };
    select(kComboBox1, c.ComboBox1);
    select(kComboBox2, c.ComboBox2);
    select(kComboBox3, c.ComboBox3);
    select(kComboBox4, c.ComboBox4);
    check(kCheckBox1, c.CheckBox1);
    check(kCheckBox2, c.CheckBox2);
    check(kCheckBox3, c.CheckBox3);
}

void TForm1::ShowOver(HWND mainWindow) {
    mainWindow_ = mainWindow;
    const POINT at = CentredOver(mainWindow);
    EnableWindow(mainWindow, FALSE);
    SetWindowPos(Handle(), HWND_TOP, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    SetForegroundWindow(Handle());
    SetFocus(GetDlgItem(Handle(), kComboBox1));
}

bool TForm1::TranslateDialogKeys(MSG* msg) {
    return Handle() && IsWindowVisible(Handle()) && IsDialogMessageW(Handle(), msg);
}

void TForm1::SpeedButton1Click() {
    try {
        ApplyGameOptions(ReadControls(), folder_, slotCreateBackup_);
    } catch (const std::exception& error) {
        ShowException(error); // the dialog stays open
        return;
    }
    Close();
}

void TForm1::SpeedButton2Click() {
    Close();
}

// Enables the main window before hiding, so that the activation goes back to it.
void TForm1::Close() {
    Dragging = false;
    if (mainWindow_) EnableWindow(mainWindow_, TRUE);
    ShowWindow(Handle(), SW_HIDE);
}

void TForm1::DrawButton(const DRAWITEMSTRUCT& item) {
    const int index = item.CtlID == kSpeedButton1 ? 0 : 1;
    const int look = (item.itemState & ODS_SELECTED) ? 2 : hover_[index] ? 1 : 0;
    HBITMAP picture = (index == 0 ? resources_->apply : resources_->cancel)[look].Get();
    const RECT& rect = item.rcItem;
    if (picture) {
        gdi::MemoryDC source(item.hDC, picture);
        const SIZE size = BitmapSize(picture);
        StretchBlt(item.hDC, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                   source.Get(), 0, 0, size.cx, size.cy, SRCCOPY);
    } else {
        gdi::Brush flat(CreateSolidBrush(kFallbackButtonColours[look]));
        FillRect(item.hDC, &rect, flat.Get());
    }
    const std::wstring caption =
        Utf8ToWide(index == 0 ? settingsui::kApplyButtonCaption : settingsui::kCancelButtonCaption);
    RECT textRect = rect;
    if (look == 2) OffsetRect(&textRect, 1, 1); // a pressed button's caption sinks with it
    SetBkMode(item.hDC, TRANSPARENT);
    SetTextColor(item.hDC, settingsui::kButtonColour);
    gdi::Selected font(item.hDC, SkinFont());
    DrawTextW(item.hDC, caption.c_str(), static_cast<int>(caption.size()), &textRect,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

LRESULT CALLBACK TForm1::ButtonProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                    DWORD_PTR self) {
    TForm1& form = *reinterpret_cast<TForm1*>(self);
    switch (message) {
    case WM_MOUSEMOVE:
        if (!form.hover_[id]) {
            form.hover_[id] = true;
            TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, hwnd, 0};
            TrackMouseEvent(&track);
            InvalidateRect(hwnd, nullptr, FALSE);
        }
        break;
    case WM_MOUSELEAVE:
        form.hover_[id] = false;
        InvalidateRect(hwnd, nullptr, FALSE);
        break;
    case WM_NCDESTROY:
        RemoveWindowSubclass(hwnd, ButtonProc, id);
        break;
    }
    return DefSubclassProc(hwnd, message, wParam, lParam);
}

bool TForm1::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    switch (message) {
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSTATIC: {
        // Combo boxes (their box and dropped-down list) in one colour, check boxes in another.
        HDC dc = reinterpret_cast<HDC>(wParam);
        const bool combo = message != WM_CTLCOLORSTATIC || IsComboBox(reinterpret_cast<HWND>(lParam));
        SetTextColor(dc, settingsui::kCaptionColour);
        SetBkColor(dc, combo ? settingsui::kComboBoxColour : settingsui::kCheckBoxColour);
        *result = reinterpret_cast<LRESULT>(combo ? resources_->comboBrush.Get() : resources_->checkBrush.Get());
        return true;
    }
    case WM_DRAWITEM:
        DrawButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        *result = TRUE;
        return true;
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == kSpeedButton1)
            SpeedButton1Click();
        else if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == kSpeedButton2)
            SpeedButton2Click();
        *result = 0;
        return true;
    case WM_CLOSE:
        // Closing the dialog by the system's means (Alt+F4) must not leave the main window disabled.
        SpeedButton2Click();
        *result = 0;
        return true;
    default: return false;
    }
}
