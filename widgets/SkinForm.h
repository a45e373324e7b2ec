// The one base of the launcher's skinned windows (the main window and the game settings dialog): a
// borderless popup painted with a background picture or colour, cut to the picture's shape, holding
// windowless controls, and dragged with any mouse button pressed on its own surface. The base registers
// the window class, routes the messages, paints through a back buffer, centres the window and owns its
// fonts; a form adds only the messages of its own (HandleMessage).
#pragma once

#include "platform/win32/ScopedOwner.h"
#include "widgets/Colors.h"
#include "widgets/Controls.h"
#include "widgets/GdiHandles.h"

#include <functional>
#include <string>
#include <vector>

// A window the program made: destroyed at the end of its owner's scope.
struct WindowTraits {
    static HWND InvalidValue() { return nullptr; }
    static bool Free(HWND window) { return DestroyWindow(window) != FALSE; }
};
using OwnedWindow = platform::win32::ScopedOwner<HWND, WindowTraits>;

// A window's timer: killed at the end of its owner's scope.
struct TimerTraits {
    HWND Window = nullptr;
    static UINT_PTR InvalidValue() { return 0; }
    bool Free(UINT_PTR id) const { return KillTimer(Window, id) != FALSE; }
};
using OwnedTimer = platform::win32::ScopedOwner<UINT_PTR, TimerTraits>;

// A skin picture from the program's resources, or none when the program carries no such bitmap.
gdi::Bitmap LoadSkinBitmap(const wchar_t* name);

// Registers one of the program's window classes (arrow cursor, the program's icon) at its first
// window; raises EWindowError when the system refuses it.
void RegisterWindowClass(const wchar_t* name, WNDPROC procedure, UINT style = 0, HBRUSH background = nullptr);

// How a form's window is made.
struct TFormParams {
    const wchar_t* ClassName = nullptr; // one class per form, registered at the first window
    std::wstring Caption;
    int ClientWidth = 0;
    int ClientHeight = 0;
    HWND Owner = nullptr;
    bool CentreOverOwner = false; // otherwise centred on the desktop's work area
    DWORD Style = 0;              // beyond WS_POPUP | WS_CLIPCHILDREN
};

class TSkinForm {
public:
    TSkinForm() = default;
    virtual ~TSkinForm();
    TSkinForm(const TSkinForm&) = delete;
    TSkinForm& operator=(const TSkinForm&) = delete;

    HWND Handle() const { return handle_.Get(); }
    // Creates the hidden window. A popup has no border, so its window and client areas coincide.
    // Raises EWindowError when the system makes no window.
    void CreateHandle(const TFormParams& params);
    // The top-left corner that centres the window over another (null: over the desktop's work area).
    POINT CentredOver(HWND window) const;
    // Controls in their stored order: later ones are painted over earlier ones and take the mouse first.
    void AddControl(TGraphicControl& control);
    // The window's background: a pattern brush of the picture, or one colour.
    void SetBackgroundPicture(HBITMAP picture);
    void SetBackgroundColor(TColor color);
    // Cuts the window to the picture's non-key pixels (see SkinRegion); false when it stays uncut.
    bool ApplySkinRegion(HBITMAP picture);
    // The skins' face, "MS Sans Serif" at 8 points (96 DPI) in the Russian character set, so Cyrillic
    // shows on any Windows. Made at its first use and kept while the form lives.
    HFONT SkinFont(bool bold = false);
    void Invalidate(const RECT& area) const;
    void Repaint() const;

    // Called after each frame the window has painted.
    std::function<void()> OnPainted;

    // The drag of the borderless window.
    bool Dragging = false;
    int32_t DragX = 0;
    int32_t DragY = 0;
    virtual void FormMouseDown(const TWMMouse& msg);
    virtual void FormMouseMove(const TWMMouse& msg);
    virtual void FormMouseUp(const TWMMouse& msg);

    // The control that takes the mouse at a point: the last visible one in stored order.
    TGraphicControl* ControlAt(POINT point) const;
    // Paints the whole client area into dc as the window shows it (also used by tests).
    void PaintTo(HDC dc, const RECT& area);

protected:
    // Destroys the window now; for a form whose own members its window's last messages still use.
    void DestroyHandle();
    virtual LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam);
    // The handlers a form adds for its own messages; true when handled.
    virtual bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

private:
    static LRESULT CALLBACK StaticWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void Paint();
    void MouseMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void SetHot(TGraphicControl* control, const TWMMouse& msg);

    OwnedWindow handle_; // set when the window is made, given up when the system destroys it
    std::vector<TGraphicControl*> controls_;
    gdi::Brush background_;
    gdi::Bitmap backBuffer_;
    SIZE backBufferSize_{0, 0};
    gdi::Font fonts_[2]; // normal, bold
    TGraphicControl* hot_ = nullptr;     // the control under the pointer
    TGraphicControl* pressed_ = nullptr; // the control that took the last press
    bool trackingLeave_ = false;
};
