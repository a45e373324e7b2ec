#include "widgets/Controls.h"

#include "widgets/GaugePaint.h"
#include "widgets/SkinRegion.h"

#include <windowsx.h>

#include <stdexcept>

// ---- controls ----------------------------------------------------------------------------------

TGraphicControl::TGraphicControl(int left, int top, int width, int height, bool visible)
    : Left(left), Top(top), Width(width), Height(height), visible_(visible) {}

void TGraphicControl::SetVisible(bool value) {
    if (visible_ == value) return;
    visible_ = value;
    Invalidate();
}

void TGraphicControl::SetEnabled(bool value) {
    if (enabled_ == value) return;
    enabled_ = value;
    Invalidate();
}

void TGraphicControl::SetBounds(int left, int top, int width, int height) {
    if (left == Left && top == Top && width == Width && height == Height) return;
    Invalidate();
    Left = left, Top = top, Width = width, Height = height;
    Invalidate();
}

void TGraphicControl::Invalidate() const {
    if (form_) form_->Invalidate(BoundsRect());
}

void TGraphicControl::MouseDown(const TWMMouse& msg) {
    if (msg.Msg == WM_LBUTTONDOWN) clicked_ = true;
}

void TGraphicControl::MouseUp(const TWMMouse& msg, bool overControl) {
    if (msg.Msg != WM_LBUTTONUP) return;
    const bool click = clicked_ && overControl;
    clicked_ = false;
    if (click && OnClick) OnClick();
}

void TImage::Paint(HDC dc) {
    if (!Picture) return;
    gdi::MemoryDC source(dc, Picture.Get());
    BITMAP info{};
    GetObjectW(Picture.Get(), sizeof info, &info);
    BitBlt(dc, 0, 0, info.bmWidth, info.bmHeight, source.Get(), 0, 0, SRCCOPY);
}

void TLabel::SetCaption(const std::string& caption) {
    if (caption == caption_) return;
    caption_ = caption;
    Invalidate();
}

void TLabel::Paint(HDC dc) {
    if (caption_.empty()) return;
    gdi::Selected font(dc, Font ? static_cast<HGDIOBJ>(Font) : GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, FontColor);
    RECT area{0, 0, Width, Height};
    const std::wstring text = ToWide(caption_);
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &area, Alignment | DT_EXPANDTABS | DT_NOPREFIX);
}

void TShape::Paint(HDC dc) {
    gdi::Brush brush(CreateSolidBrush(BrushColor));
    RECT area{0, 0, Width, Height};
    FillRect(dc, &area, brush.Get());
}

TGaugeControl::TGaugeControl(int left, int top, TGauge& gauge, bool visible)
    : TGraphicControl(left, top, gauge.Width(), gauge.Height(), visible), gauge_(gauge) {
    gauge_.OnRepaint = [this] { Invalidate(); };
}

void TGaugeControl::Paint(HDC dc) { PaintGauge(gauge_, dc); }

TImgBtnControl::TImgBtnControl(int left, int top, int width, int height)
    : TGraphicControl(left, top, width, height, true) {
    Button.OnPictureChanged = [this] { Invalidate(); };
}

void TImgBtnControl::Paint(HDC dc) {
    HBITMAP shown = nullptr;
    switch (Button.Shown()) {
    case TImgBtn::TShown::Pic: shown = Pic.Get(); break;
    case TImgBtn::TShown::PicDown: shown = PicDown.Get(); break;
    case TImgBtn::TShown::PicUp: shown = PicUp.Get(); break;
    case TImgBtn::TShown::None: break;
    }
    if (!shown) return; // an empty picture shows nothing
    gdi::MemoryDC source(dc, shown);
    BitBlt(dc, 0, 0, Width, Height, source.Get(), 0, 0, SRCCOPY);
}

void TImgBtnControl::MouseDown(const TWMMouse& msg) {
    if (msg.Msg == WM_LBUTTONDOWN) Button.LeftButtonDown(msg);
}

void TImgBtnControl::MouseUp(const TWMMouse& msg, bool overControl) {
    if (msg.Msg == WM_LBUTTONUP) Button.LeftButtonUp(msg, overControl);
}

// ---- the form ----------------------------------------------------------------------------------

namespace {
const wchar_t kFormClass[] = L"VandrelSkinForm";

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

TSkinForm::~TSkinForm() {
    if (handle_) {
        SetWindowLongPtrW(handle_, GWLP_USERDATA, 0);
        DestroyWindow(handle_);
    }
}

void TSkinForm::CreateHandle(const std::wstring& caption, int clientWidth, int clientHeight, HWND owner,
                             bool centreOverOwner) {
    static const bool registered = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.style = CS_DBLCLKS;
        wc.lpfnWndProc = StaticWndProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        wc.hIcon = LoadIconW(GetModuleHandleW(nullptr), L"MAINICON");
        wc.lpszClassName = kFormClass;
        return RegisterClassExW(&wc) != 0;
    }();
    (void)registered;
    RECT area{};
    if (owner && centreOverOwner) {
        GetWindowRect(owner, &area);
    } else {
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    }
    const int left = area.left + (area.right - area.left - clientWidth) / 2;
    const int top = area.top + (area.bottom - area.top - clientHeight) / 2;
    // A popup has no border, so its window and client areas coincide.
    CreateWindowExW(0, kFormClass, caption.c_str(), WS_POPUP | WS_CLIPCHILDREN | WS_SYSMENU | WS_MINIMIZEBOX,
                    left, top, clientWidth, clientHeight, owner, nullptr, GetModuleHandleW(nullptr), this);
    if (!handle_) throw std::runtime_error("Cannot create the window");
}

void TSkinForm::AddControl(TGraphicControl& control) {
    control.form_ = this;
    controls_.push_back(&control);
}

void TSkinForm::SetBackgroundPicture(HBITMAP picture) {
    background_.Reset(CreatePatternBrush(picture));
    Repaint();
}

bool TSkinForm::ApplySkinRegion(HBITMAP picture) {
    gdi::Region region = CreateSkinRegion(picture);
    if (!region || !SetWindowRgn(handle_, region.Get(), TRUE)) return false;
    static_cast<void>(region.Release()); // the window owns it from here on
    return true;
}

void TSkinForm::Invalidate(const RECT& area) const {
    if (handle_) InvalidateRect(handle_, &area, FALSE);
}

void TSkinForm::Repaint() const {
    if (handle_) InvalidateRect(handle_, nullptr, FALSE);
}

TGraphicControl* TSkinForm::ControlAt(POINT point) const {
    for (auto it = controls_.rbegin(); it != controls_.rend(); ++it) {
        const RECT bounds = (*it)->BoundsRect();
        if ((*it)->Visible() && PtInRect(&bounds, point)) return *it;
    }
    return nullptr;
}

void TSkinForm::PaintTo(HDC dc, const RECT& area) {
    RECT client{};
    GetClientRect(handle_, &client);
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

void TSkinForm::FormMouseDown(const TWMMouse& msg) {
    Dragging = true;
    DragX = msg.XPos;
    DragY = msg.YPos;
}

void TSkinForm::FormMouseMove(const TWMMouse& msg) {
    if (!Dragging) return;
    RECT place{};
    GetWindowRect(handle_, &place);
    SetWindowPos(handle_, nullptr, place.left + msg.XPos - DragX, place.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    GetWindowRect(handle_, &place);
    SetWindowPos(handle_, nullptr, place.left, place.top + msg.YPos - DragY, 0, 0,
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
            TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, handle_, 0};
            trackingLeave_ = TrackMouseEvent(&track) != FALSE;
        }
        // While the form holds the mouse, a point outside it is over nothing of the form.
        RECT client{};
        GetClientRect(handle_, &client);
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
        if (GetCapture() != handle_) SetCapture(handle_);
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
        if (GetCapture() == handle_ && !(wParam & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON))) ReleaseCapture();
        return;
    }
    default: return;
    }
}

LRESULT CALLBACK TSkinForm::StaticWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* created = static_cast<TSkinForm*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        created->handle_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
    }
    auto* form = reinterpret_cast<TSkinForm*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!form) return DefWindowProcW(hwnd, message, wParam, lParam);
    return form->WndProc(message, wParam, lParam);
}

bool TSkinForm::HandleMessage(UINT, WPARAM, LPARAM, LRESULT*) { return false; }

LRESULT TSkinForm::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (HandleMessage(message, wParam, lParam, &result)) return result;
    switch (message) {
    case WM_ERASEBKGND: return 1; // everything is painted through the back buffer
    case WM_PAINT: {
        PAINTSTRUCT ps{};
        HDC dc = BeginPaint(handle_, &ps);
        RECT client{};
        GetClientRect(handle_, &client);
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
        EndPaint(handle_, &ps);
        if (OnPainted) OnPainted();
        return 0;
    }
    case WM_SETCURSOR:
        if (LOWORD(lParam) == HTCLIENT) {
            POINT point{};
            GetCursorPos(&point);
            ScreenToClient(handle_, &point);
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
        if (GetCapture() != handle_) SetHot(nullptr, MouseRecord(WM_MOUSELEAVE, 0, -1, -1));
        return 0;
    }
    case WM_CAPTURECHANGED: // another window took the mouse: no drag and no click can follow
        if (reinterpret_cast<HWND>(lParam) != handle_) {
            Dragging = false;
            pressed_ = nullptr;
        }
        return 0;
    default: break;
    }
    return DefWindowProcW(handle_, message, wParam, lParam);
}
