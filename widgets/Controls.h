// The skinned window's building blocks: windowless controls (pictures, image buttons, labels, the
// progress shape, gauges) that a form paints in their stored order into one back buffer and to which
// it hands the mouse, and the borderless form itself with its background, region and drag.
#pragma once

#include "widgets/GdiHandles.h"
#include "widgets/Gauges.h"
#include "widgets/ImgBtn.h"

#include <functional>
#include <string>
#include <vector>

class TSkinForm;

class TGraphicControl {
public:
    TGraphicControl(int left, int top, int width, int height, bool visible);
    virtual ~TGraphicControl() = default;
    TGraphicControl(const TGraphicControl&) = delete;
    TGraphicControl& operator=(const TGraphicControl&) = delete;

    int Left, Top, Width, Height;
    RECT BoundsRect() const { return {Left, Top, Left + Width, Top + Height}; }
    bool Visible() const { return visible_; }
    void SetVisible(bool value);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value);
    void SetBounds(int left, int top, int width, int height);
    // Repaints the control's place on its form.
    void Invalidate() const;

    // The click event: a left-button release over the control after a press on it.
    TNotifyEvent OnClick;
    // The cursor over the control; null keeps the arrow.
    HCURSOR Cursor = nullptr;

    // Draws at (0, 0) of dc, which the form has moved to the control's place and clipped to it.
    virtual void Paint(HDC dc) = 0;
    // Mouse input in the form's client coordinates. Enter and leave follow the pointer whatever the
    // enabled state; presses and releases reach enabled controls only.
    virtual void MouseEnter(const TWMMouse& msg) { (void)msg; }
    virtual void MouseLeave(const TWMMouse& msg) { (void)msg; }
    virtual void MouseDown(const TWMMouse& msg);
    virtual void MouseUp(const TWMMouse& msg, bool overControl);

protected:
    friend class TSkinForm;
    TSkinForm* form_ = nullptr;
    bool clicked_ = false;

private:
    bool visible_;
    bool enabled_ = true;
};

// A picture shown at its own size from the control's top-left corner.
class TImage : public TGraphicControl {
public:
    TImage(int left, int top, int width, int height, bool visible) : TGraphicControl(left, top, width, height, visible) {}
    gdi::Bitmap Picture;
    void Paint(HDC dc) override;
};

// A text line with a transparent background.
class TLabel : public TGraphicControl {
public:
    TLabel(int left, int top, int width, int height, bool visible) : TGraphicControl(left, top, width, height, visible) {}
    void SetCaption(const std::string& caption);
    const std::string& Caption() const { return caption_; }
    HFONT Font = nullptr; // not owned
    COLORREF FontColor = RGB(0, 0, 0);
    UINT Alignment = DT_LEFT; // DT_LEFT, DT_CENTER or DT_RIGHT
    void Paint(HDC dc) override;

private:
    std::string caption_;
};

// A filled rectangle without outline.
class TShape : public TGraphicControl {
public:
    TShape(int left, int top, int width, int height, bool visible) : TGraphicControl(left, top, width, height, visible) {}
    COLORREF BrushColor = RGB(255, 255, 255);
    void Paint(HDC dc) override;
};

// A gauge control: draws the gauge it is given (kept elsewhere with its value rules).
class TGaugeControl : public TGraphicControl {
public:
    TGaugeControl(int left, int top, TGauge& gauge, bool visible);
    void Paint(HDC dc) override;

private:
    TGauge& gauge_;
};

// The image button: three pictures and the behaviour of TImgBtn.
class TImgBtnControl : public TGraphicControl {
public:
    TImgBtnControl(int left, int top, int width, int height);
    TImgBtn Button;
    gdi::Bitmap Pic, PicDown, PicUp;
    void Paint(HDC dc) override;
    void MouseEnter(const TWMMouse& msg) override { Button.MouseEnter(msg); }
    void MouseLeave(const TWMMouse& msg) override { Button.MouseLeave(msg); }
    void MouseDown(const TWMMouse& msg) override;
    void MouseUp(const TWMMouse& msg, bool overControl) override;
};

// A borderless popup window painted with a background picture, cut to its shape, holding windowless
// controls and dragged with any mouse button pressed on its own surface.
class TSkinForm {
public:
    TSkinForm() = default;
    virtual ~TSkinForm();
    TSkinForm(const TSkinForm&) = delete;
    TSkinForm& operator=(const TSkinForm&) = delete;

    HWND Handle() const { return handle_; }
    // Creates the hidden window, client size as given, centred over the owner (centreOverOwner) or
    // over the desktop's work area.
    void CreateHandle(const std::wstring& caption, int clientWidth, int clientHeight, HWND owner,
                      bool centreOverOwner);
    // Controls in their stored order: later ones are painted over earlier ones and take the mouse first.
    void AddControl(TGraphicControl& control);
    // The window's background brush becomes a pattern brush of the picture.
    void SetBackgroundPicture(HBITMAP picture);
    // Cuts the window to the picture's non-key pixels (see SkinRegion).
    bool ApplySkinRegion(HBITMAP picture);
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

    // The controls that take the mouse at a point: the last visible one in stored order.
    TGraphicControl* ControlAt(POINT point) const;
    // Paints the whole client area into dc as the window shows it (also used by tests).
    void PaintTo(HDC dc, const RECT& area);

protected:
    virtual LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam);
    // The handlers a form adds for its own messages; true when handled.
    virtual bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

private:
    static LRESULT CALLBACK StaticWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void MouseMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void SetHot(TGraphicControl* control, const TWMMouse& msg);

    HWND handle_ = nullptr;
    std::vector<TGraphicControl*> controls_;
    gdi::Brush background_;
    gdi::Bitmap backBuffer_;
    SIZE backBufferSize_{0, 0};
    TGraphicControl* hot_ = nullptr;     // the control under the pointer
    TGraphicControl* pressed_ = nullptr; // the control that took the last press
    bool trackingLeave_ = false;
};
