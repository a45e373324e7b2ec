#include "widgets/SkinForm.h"

#include "widgets/GuiErrors.h"
#include "widgets/SkinRegion.h"

#include <windowsx.h>

void RegisterWindowClass(const wchar_t* name, WNDPROC procedure, UINT style, HBRUSH background) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    if (GetClassInfoExW(instance, name, &wc)) return;
    wc.cbSize = sizeof wc;
    wc.style = style;
    wc.lpfnWndProc = procedure;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hIcon = LoadIconW(instance, L"MAINICON");
    wc.hbrBackground = background;
    wc.lpszClassName = name;
    if (!RegisterClassExW(&wc)) throw EWindowError("Cannot create the window");
}

namespace {

// The top-left corner of a window of that size centred over another, or over the desktop's work area.
POINT Centred(HWND over, int width, int height) {
    RECT area{};
    if (over) {
        GetWindowRect(over, &area);
    } else {
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    }
    return POINT{area.left + (area.right - area.left - width) / 2,
                 area.top + (area.bottom - area.top - height) / 2};
}

TWMMouse MouseRecord(UINT message, WPARAM wParam, int x, int y) {
    TWMMouse msg;
    msg.Msg = message;
    msg.Keys = static_cast<int32_t>(wParam);
    msg.XPos = static_cast<int16_t>(x);
    msg.YPos = static_cast<int16_t>(y);
    return msg;
}

TWMMouse ForControl(TWMMouse msg, const TGraphicControl& control) {
    msg.XPos = static_cast<int16_t>(msg.XPos - control.Left);
    msg.YPos = static_cast<int16_t>(msg.YPos - control.Top);
    return msg;
}

} // namespace

gdi::Bitmap LoadSkinBitmap(const wchar_t* name) {
    return gdi::Bitmap(static_cast<HBITMAP>(
        LoadImageW(GetModuleHandleW(nullptr), name, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
}

TSkinForm::~TSkinForm() { DestroyHandle(); }

void TSkinForm::DestroyHandle() {
    // Messages of the window's last moments no longer reach a form that is going away.
    if (handle_) SetWindowLongPtrW(handle_.Get(), GWLP_USERDATA, 0);
    handle_.Reset();
}

void TSkinForm::CreateHandle(const TFormParams& params) {
    // Every skin form's class: the form is found from the window through GWLP_USERDATA.
    RegisterWindowClass(params.ClassName, StaticWndProc, CS_DBLCLKS);
    const POINT at =
        Centred(params.CentreOverOwner ? params.Owner : nullptr, params.ClientWidth, params.ClientHeight);
    CreateWindowExW(0, params.ClassName, params.Caption.c_str(), WS_POPUP | WS_CLIPCHILDREN | params.Style,
                    at.x, at.y, params.ClientWidth, params.ClientHeight, params.Owner, nullptr,
                    GetModuleHandleW(nullptr), this);
    if (!handle_) throw EWindowError("Cannot create the window");
}

POINT TSkinForm::CentredOver(HWND window) const {
    RECT own{};
    GetWindowRect(Handle(), &own);
    return Centred(window, own.right - own.left, own.bottom - own.top);
}

void TSkinForm::AddControl(TGraphicControl& control) {
    control.form_ = this;
    controls_.push_back(&control);
}

void TSkinForm::SetBackgroundPicture(HBITMAP picture) {
    background_.Reset(CreatePatternBrush(picture));
    Repaint();
}

void TSkinForm::SetBackgroundColor(TColor color) {
    background_.Reset(CreateSolidBrush(color));
    Repaint();
}

bool TSkinForm::ApplySkinRegion(HBITMAP picture) {
    gdi::Region region = CreateSkinRegion(picture);
    if (!region || !SetWindowRgn(Handle(), region.Get(), TRUE)) return false;
    static_cast<void>(region.Release()); // the window owns it from here on
    return true;
}

HFONT TSkinForm::SkinFont(bool bold) {
    gdi::Font& font = fonts_[bold ? 1 : 0];
    if (!font)
        font.Reset(CreateFontW(-11, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, RUSSIAN_CHARSET,
                               OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                               DEFAULT_PITCH | FF_DONTCARE, L"MS Sans Serif"));
    return font.Get();
}

void TSkinForm::Invalidate(const RECT& area) const {
    if (handle_) InvalidateRect(Handle(), &area, FALSE);
}

void TSkinForm::Repaint() const {
    if (handle_) InvalidateRect(Handle(), nullptr, FALSE);
}

TGraphicControl* TSkinForm::ControlAt(POINT point) const {
    for (auto it = controls_.rbegin(); it != controls_.rend(); ++it) {
        const RECT bounds = (*it)->BoundsRect();
        if ((*it)->Visible() && PtInRect(&bounds, point)) return *it;
    }
    return nullptr;
}

void TSkinForm::PaintTo(HDC dc, const RECT& area) {
    FillRect(dc, &area, background_ ? background_.Get() : GetSysColorBrush(COLOR_BTNFACE));
    for (TGraphicControl* control : controls_) {
        const RECT bounds = control->BoundsRect();
        RECT overlap{};
        if (!control->Visible() || !IntersectRect(&overlap, &bounds, &area)) continue;
        const int saved = SaveDC(dc);
        IntersectClipRect(dc, overlap.left, overlap.top, overlap.right, overlap.bottom);
        POINT origin{};
        GetViewportOrgEx(dc, &origin);
        SetViewportOrgEx(dc, origin.x + control->Left, origin.y + control->Top, nullptr);
        control->Paint(dc);
        RestoreDC(dc, saved);
    }
}

// Everything is painted into the back buffer first, so a frame never shows half drawn.
void TSkinForm::Paint() {
    PAINTSTRUCT ps{};
    HDC dc = BeginPaint(Handle(), &ps);
    RECT client{};
    GetClientRect(Handle(), &client);
    if (!backBuffer_ || backBufferSize_.cx != client.right || backBufferSize_.cy != client.bottom) {
        backBuffer_.Reset(CreateCompatibleBitmap(dc, client.right, client.bottom));
        backBufferSize_ = {client.right, client.bottom};
    }
    {
        gdi::MemoryDC buffer(dc, backBuffer_.Get());
        PaintTo(buffer.Get(), ps.rcPaint);
        BitBlt(dc, ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right - ps.rcPaint.left,
               ps.rcPaint.bottom - ps.rcPaint.top, buffer.Get(), ps.rcPaint.left, ps.rcPaint.top, SRCCOPY);
    }
    EndPaint(Handle(), &ps);
}

void TSkinForm::FormMouseDown(const TWMMouse& msg) {
    Dragging = true;
    DragX = msg.XPos;
    DragY = msg.YPos;
}

void TSkinForm::FormMouseMove(const TWMMouse& msg) {
    if (!Dragging) return;
    RECT place{};
    GetWindowRect(Handle(), &place);
    SetWindowPos(Handle(), nullptr, place.left + msg.XPos - DragX, place.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    GetWindowRect(Handle(), &place);
    SetWindowPos(Handle(), nullptr, place.left, place.top + msg.YPos - DragY, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TSkinForm::FormMouseUp(const TWMMouse& msg) {
    (void)msg;
    Dragging = false;
}

void TSkinForm::SetHot(TGraphicControl* control, const TWMMouse& msg) {
    if (control == hot_) return;
    TGraphicControl* left = hot_;
    hot_ = control;
    if (left) left->MouseLeave(ForControl(msg, *left));
    if (control) control->MouseEnter(ForControl(msg, *control));
}

void TSkinForm::MouseMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    const POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    const TWMMouse msg = MouseRecord(message, wParam, point.x, point.y);
    switch (message) {
    case WM_MOUSEMOVE: {
        if (!trackingLeave_) {
            TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, Handle(), 0};
            trackingLeave_ = TrackMouseEvent(&track) != FALSE;
        }
        // While the form holds the mouse, a point outside it is over nothing of the form.
        RECT client{};
        GetClientRect(Handle(), &client);
        SetHot(PtInRect(&client, point) ? ControlAt(point) : nullptr, msg);
        if (!pressed_) FormMouseMove(msg);
        return;
    }
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDBLCLK: {
        TWMMouse down = msg;
        if (message == WM_LBUTTONDBLCLK) down.Msg = WM_LBUTTONDOWN;
        if (message == WM_RBUTTONDBLCLK) down.Msg = WM_RBUTTONDOWN;
        if (message == WM_MBUTTONDBLCLK) down.Msg = WM_MBUTTONDOWN;
        // Before the drag starts: taking the capture may report a capture change, which ends drags.
        if (GetCapture() != Handle()) SetCapture(Handle());
        TGraphicControl* control = ControlAt(point);
        if (control && control->Enabled()) {
            pressed_ = control;
            control->MouseDown(ForControl(down, *control));
        } else {
            pressed_ = nullptr; // a disabled control lets the press through to the form
            FormMouseDown(down);
        }
        return;
    }
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP: {
        if (TGraphicControl* control = pressed_) {
            pressed_ = nullptr;
            const RECT bounds = control->BoundsRect();
            control->MouseUp(ForControl(msg, *control), PtInRect(&bounds, point) != FALSE);
        } else {
            FormMouseUp(msg);
        }
        if (GetCapture() == Handle() && !(wParam & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON))) ReleaseCapture();
        return;
    }
    default: return;
    }
}

LRESULT CALLBACK TSkinForm::StaticWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* created = static_cast<TSkinForm*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        created->handle_.Reset(hwnd);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
    }
    auto* form = reinterpret_cast<TSkinForm*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!form) return DefWindowProcW(hwnd, message, wParam, lParam);
    if (message == WM_NCDESTROY) { // also when the owner window is destroyed first, taking this one along
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        static_cast<void>(form->handle_.Release());
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    return form->WndProc(message, wParam, lParam);
}

bool TSkinForm::HandleMessage(UINT, WPARAM, LPARAM, LRESULT*) { return false; }

LRESULT TSkinForm::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (HandleMessage(message, wParam, lParam, &result)) return result;
    switch (message) {
    case WM_ERASEBKGND: return 1; // everything is painted through the back buffer
    case WM_PAINT:
        Paint();
        if (OnPainted) OnPainted();
        return 0;
    case WM_PRINTCLIENT: {
        RECT client{};
        GetClientRect(Handle(), &client);
        PaintTo(reinterpret_cast<HDC>(wParam), client);
        return 0;
    }
    case WM_SETCURSOR:
        if (LOWORD(lParam) == HTCLIENT) {
            POINT point{};
            GetCursorPos(&point);
            ScreenToClient(Handle(), &point);
            TGraphicControl* control = ControlAt(point);
            if (control && control->Cursor) {
                SetCursor(control->Cursor);
                return TRUE;
            }
        }
        break;
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDBLCLK:
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP: MouseMessage(message, wParam, lParam); return 0;
    case WM_MOUSELEAVE: {
        trackingLeave_ = false;
        if (GetCapture() != Handle()) SetHot(nullptr, MouseRecord(WM_MOUSELEAVE, 0, -1, -1));
        return 0;
    }
    case WM_CAPTURECHANGED: // another window took the mouse: no drag and no click can follow
        if (reinterpret_cast<HWND>(lParam) != Handle()) {
            Dragging = false;
            pressed_ = nullptr;
        }
        return 0;
    default: break;
    }
    return DefWindowProcW(Handle(), message, wParam, lParam);
}
