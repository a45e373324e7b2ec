#include "settings/Frm2.h"

#include "platform/Platform.h"
#include "settings/Frm2Layout.h"
#include "app/Shell.h"
#include "widgets/GdiHandles.h"
#include "widgets/SkinRegion.h"

#include <commctrl.h>
#include <uxtheme.h>
#include <windowsx.h>

#include <array>
#include <stdexcept>
#include <vector>

namespace {

constexpr wchar_t kClassName[] = L"TForm1";
// The dialog's surface where the skin picture is missing.
constexpr uint32_t kFallbackColour = settingsui::kCheckBoxColour;
// The buttons' looks where their pictures are missing: normal, hover, pressed.
constexpr uint32_t kFallbackButtonColours[3] = {0x2F3C53, 0x3E4F6D, 0x1B2436};

COLORREF Colour(uint32_t rgb) {
    return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

HFONT CreateDialogFont(bool bold) {
    const std::wstring face = ToWide(settingsui::kFontFace);
    return CreateFontW(settingsui::kFontHeight, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                       RUSSIAN_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, face.c_str());
}

HBITMAP LoadResourceBitmap(HINSTANCE instance, const wchar_t* name) {
    return static_cast<HBITMAP>(LoadImageW(instance, name, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
}

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
    gdi::Font font{CreateDialogFont(false)};
    gdi::Font boldFont{CreateDialogFont(true)};
    gdi::Brush comboBrush{CreateSolidBrush(Colour(settingsui::kComboBoxColour))};
    gdi::Brush checkBrush{CreateSolidBrush(Colour(settingsui::kCheckBoxColour))};
    gdi::Bitmap skin;
    std::array<gdi::Bitmap, 3> apply, cancel;    // normal, hover, pressed
    std::array<RECT, settingsui::kLabels.size()> labels{}; // where each caption lies; presses there do not drag
};

TForm1::TForm1(Key, TInstallFolder folder, std::string& slotCreateBackup, TForm1Services services)
    : folder_(std::move(folder)), slotCreateBackup_(slotCreateBackup), services_(std::move(services)),
      resources_(std::make_unique<Resources>()) {}

TForm1::~TForm1() {
    if (hwnd_) {
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
}

std::unique_ptr<TForm1> TForm1::Create(HINSTANCE instance, HWND mainWindow, const TInstallFolder& folder,
                                       std::string& slotCreateBackup, TForm1Services services) {
    if (!services.ShowError) services.ShowError = ShowException;
    if (!services.LoadBitmap)
        services.LoadBitmap = [instance](const wchar_t* name) { return LoadResourceBitmap(instance, name); };
    auto form = std::make_unique<TForm1>(Key{}, folder, slotCreateBackup, std::move(services));

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    if (!GetClassInfoExW(instance, kClassName, &windowClass)) {
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = WindowProc;
        windowClass.hInstance = instance;
        windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        windowClass.lpszClassName = kClassName;
        if (!RegisterClassExW(&windowClass)) throw std::runtime_error("cannot register the settings dialog");
    }
    Resources& r = *form->resources_;
    r.skin.Reset(form->services_.LoadBitmap(kSkinBitmap));
    for (int i = 0; i < 3; ++i) {
        r.apply[i].Reset(form->services_.LoadBitmap(kApplyBitmaps[i]));
        r.cancel[i].Reset(form->services_.LoadBitmap(kCancelBitmaps[i]));
    }

    // Hidden, owned by the main window so that it stays above it and has no taskbar button of its own.
    form->mainWindow_ = mainWindow;
    HWND hwnd = CreateWindowExW(0, kClassName, L"Form1", WS_POPUP | WS_CLIPCHILDREN, 0, 0, settingsui::kClientWidth,
                                settingsui::kClientHeight, mainWindow, nullptr, instance, form.get());
    if (!hwnd) throw std::runtime_error("cannot create the settings dialog");
    form->CreateControls(instance);
    form->FormCreate();
    return form;
}

// The controls in their tab order (the order of creation), then the two buttons, which take no tab stop.
void TForm1::CreateControls(HINSTANCE instance) {
    HFONT font = resources_->font.Get();
    auto add = [&](const wchar_t* cls, const std::wstring& text, DWORD style, const settingsui::TPlace& place,
                   int id, int height) {
        HWND control = CreateWindowExW(0, cls, text.c_str(), WS_CHILD | WS_VISIBLE | style, place.Left,
                                       place.Top, place.Width, height, hwnd_,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
        if (!control) throw std::runtime_error("cannot create the settings dialog's controls");
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        return control;
    };
    auto combo = [&](int id, const settingsui::TPlace& place, const auto& items) {
        // The height given is the dropped-down list's; the closed box is then made exactly place.Height.
        HWND box = add(WC_COMBOBOXW, L"", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, place, id, 200);
        SetWindowTheme(box, L"", L""); // the colours below hold whatever visual style is on
        for (const char* item : items)
            SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(ToWide(item).c_str()));
        RECT rect;
        GetWindowRect(box, &rect);
        const LRESULT itemHeight = SendMessageW(box, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0);
        const LONG difference = place.Height - (rect.bottom - rect.top);
        if (difference != 0 && itemHeight + difference > 0)
            SendMessageW(box, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), itemHeight + difference);
    };
    auto check = [&](int id, const settingsui::TPlace& place, const char* caption) {
        HWND box = add(WC_BUTTONW, ToWide(caption), WS_TABSTOP | BS_AUTOCHECKBOX, place, id, place.Height);
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
        HWND button = add(WC_BUTTONW, ToWide(caption), BS_OWNERDRAW, place, i == 0 ? kSpeedButton1 : kSpeedButton2,
                          place.Height);
        SetWindowSubclass(button, ButtonProc, static_cast<UINT_PTR>(i), reinterpret_cast<DWORD_PTR>(this));
    }

    // The captions are the dialog's own drawing; each covers its text's extent.
    const gdi::WindowDC dc = gdi::ClientDC(hwnd_);
    for (size_t i = 0; i < settingsui::kLabels.size(); ++i) {
        const settingsui::TLabel& label = settingsui::kLabels[i];
        gdi::Selected select(dc.Get(), label.Bold ? resources_->boldFont.Get() : font);
        const std::wstring caption = ToWide(label.Caption);
        SIZE size{};
        GetTextExtentPoint32W(dc.Get(), caption.c_str(), static_cast<int>(caption.size()), &size);
        resources_->labels[i] = RECT{label.Left, label.Top, label.Left + size.cx, label.Top + size.cy};
    }
}

void TForm1::FormCreate() {
    // The skin covers the client area from its top-left corner; its key colour is cut out of the window.
    if (resources_->skin) {
        gdi::Region region = CreateSkinRegion(resources_->skin.Get());
        if (region && SetWindowRgn(hwnd_, region.Get(), TRUE))
            static_cast<void>(region.Release()); // the window owns it from here on
    }
    TGameOptionControls controls;
    try {
        LoadGameOptions(controls, GameOptionsPath(folder_), slotCreateBackup_);
    } catch (const std::exception& error) {
        WriteControls(controls); // what was read before the error
        ShowError(error);
        return;
    }
    WriteControls(controls);
}

TGameOptionControls TForm1::ReadControls() const {
    auto selected = [&](int id) {
        return static_cast<int>(SendDlgItemMessageW(hwnd_, id, CB_GETCURSEL, 0, 0));
    };
    auto checked = [&](int id) { return IsDlgButtonChecked(hwnd_, id) == BST_CHECKED; };
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
        SendDlgItemMessageW(hwnd_, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    };
    auto check = [&](int id, bool on) { CheckDlgButton(hwnd_, id, on ? BST_CHECKED : BST_UNCHECKED); };
    select(kComboBox1, c.ComboBox1);
    select(kComboBox2, c.ComboBox2);
    select(kComboBox3, c.ComboBox3);
    select(kComboBox4, c.ComboBox4);
    check(kCheckBox1, c.CheckBox1);
    check(kCheckBox2, c.CheckBox2);
    check(kCheckBox3, c.CheckBox3);
}

void TForm1::ShowError(const std::exception& error) {
    services_.ShowError(error);
}

void TForm1::ShowOver(HWND mainWindow) {
    mainWindow_ = mainWindow;
    RECT main{};
    GetWindowRect(mainWindow, &main);
    const int left = main.left + (main.right - main.left - settingsui::kClientWidth) / 2;
    const int top = main.top + (main.bottom - main.top - settingsui::kClientHeight) / 2;
    EnableWindow(mainWindow, FALSE);
    SetWindowPos(hwnd_, HWND_TOP, left, top, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    SetForegroundWindow(hwnd_);
    SetFocus(GetDlgItem(hwnd_, kComboBox1));
}

bool TForm1::TranslateDialogKeys(MSG* msg) {
    return hwnd_ && IsWindowVisible(hwnd_) && IsDialogMessageW(hwnd_, msg);
}

void TForm1::SpeedButton1Click() {
    try {
        ApplyGameOptions(ReadControls(), folder_, slotCreateBackup_);
    } catch (const std::exception& error) {
        ShowError(error); // the dialog stays open
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
    ShowWindow(hwnd_, SW_HIDE);
}

void TForm1::FormMouseDown(int x, int y) {
    const POINT point{x, y};
    for (const RECT& label : resources_->labels)
        if (PtInRect(&label, point)) return; // a caption takes the press, as any control does
    SetCapture(hwnd_); // before Dragging: taking the capture may report a capture change
    Dragging = true;
    DragX = x;
    DragY = y;
}

void TForm1::FormMouseMove(int x, int y) {
    if (!Dragging) return;
    RECT window;
    GetWindowRect(hwnd_, &window);
    SetWindowPos(hwnd_, nullptr, window.left + x - DragX, window.top + y - DragY, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm1::FormMouseUp() {
    Dragging = false;
    if (GetCapture() == hwnd_) ReleaseCapture();
}

void TForm1::Paint(HDC dc) {
    const RECT client{0, 0, settingsui::kClientWidth, settingsui::kClientHeight};
    if (resources_->skin) {
        gdi::MemoryDC skin(dc, resources_->skin.Get());
        const SIZE size = BitmapSize(resources_->skin.Get());
        BitBlt(dc, 0, 0, size.cx, size.cy, skin.Get(), 0, 0, SRCCOPY);
    } else {
        gdi::Brush flat(CreateSolidBrush(Colour(kFallbackColour)));
        FillRect(dc, &client, flat.Get());
    }
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, Colour(settingsui::kCaptionColour));
    for (const settingsui::TLabel& label : settingsui::kLabels) {
        gdi::Selected font(dc, label.Bold ? resources_->boldFont.Get() : resources_->font.Get());
        const std::wstring caption = ToWide(label.Caption);
        TextOutW(dc, label.Left, label.Top, caption.c_str(), static_cast<int>(caption.size()));
    }
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
        gdi::Brush flat(CreateSolidBrush(Colour(kFallbackButtonColours[look])));
        FillRect(item.hDC, &rect, flat.Get());
    }
    const std::wstring caption =
        ToWide(index == 0 ? settingsui::kApplyButtonCaption : settingsui::kCancelButtonCaption);
    RECT textRect = rect;
    if (look == 2) OffsetRect(&textRect, 1, 1); // a pressed button's caption sinks with it
    SetBkMode(item.hDC, TRANSPARENT);
    SetTextColor(item.hDC, Colour(settingsui::kButtonColour));
    gdi::Selected font(item.hDC, resources_->font.Get());
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

LRESULT CALLBACK TForm1::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* form = static_cast<TForm1*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        form->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    }
    auto* form = reinterpret_cast<TForm1*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!form) return DefWindowProcW(hwnd, message, wParam, lParam);
    if (message == WM_NCDESTROY) { // also when the main window, its owner, goes first
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        form->hwnd_ = nullptr;
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    return form->Message(message, wParam, lParam);
}

LRESULT TForm1::Message(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_ERASEBKGND:
        return 1; // WM_PAINT covers the whole surface
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd_, &ps);
        Paint(dc);
        EndPaint(hwnd_, &ps);
        return 0;
    }
    case WM_PRINTCLIENT:
        Paint(reinterpret_cast<HDC>(wParam));
        return 0;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSTATIC: {
        // Combo boxes (their box and dropped-down list) in one colour, check boxes in another.
        HDC dc = reinterpret_cast<HDC>(wParam);
        const bool combo = message != WM_CTLCOLORSTATIC || IsComboBox(reinterpret_cast<HWND>(lParam));
        SetTextColor(dc, Colour(settingsui::kCaptionColour));
        SetBkColor(dc, Colour(combo ? settingsui::kComboBoxColour : settingsui::kCheckBoxColour));
        return reinterpret_cast<LRESULT>(combo ? resources_->comboBrush.Get() : resources_->checkBrush.Get());
    }
    case WM_DRAWITEM:
        DrawButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == kSpeedButton1)
            SpeedButton1Click();
        else if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == kSpeedButton2)
            SpeedButton2Click();
        return 0;
    case WM_CLOSE:
        // Closing the dialog by the system's means (Alt+F4) must not leave the main window disabled.
        SpeedButton2Click();
        return 0;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        FormMouseDown(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return 0;
    case WM_MOUSEMOVE:
        FormMouseMove(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return 0;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
        FormMouseUp();
        return 0;
    case WM_CAPTURECHANGED:
        Dragging = false;
        return 0;
    }
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}
