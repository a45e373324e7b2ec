// The skinned windows' windowless controls (pictures, image buttons, labels, the progress shape,
// gauges): a skin form (SkinForm.h) paints them in their stored order into one back buffer and hands
// them the mouse.
#pragma once

#include "widgets/Colors.h"
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

    // The click event: a left-button release over the control after a press on it, while the control
    // is enabled. A control disabled while held reports no click.
    TNotifyEvent OnClick;
    // The cursor over the control; null keeps the arrow.
    HCURSOR Cursor = nullptr;

    // Draws at (0, 0) of dc, which the form has moved to the control's place and clipped to it.
    virtual void Paint(HDC dc) = 0;
    // Mouse input in the form's client coordinates. Enter and leave follow the pointer whatever the
    // enabled state; presses reach enabled controls only, and the release reaches the control that
    // took the press, disabled since or not, so that it lets go of its pressed look.
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

// A text line with a transparent background. The caption is the launcher's own words (UTF-8), which
// data from files may follow (ANSI code page): a file name after "Загрузка ", say.
class TLabel : public TGraphicControl {
public:
    TLabel(int left, int top, int width, int height, bool visible) : TGraphicControl(left, top, width, height, visible) {}
    void SetCaption(const std::string& own, const std::string& data = std::string());
    // Both parts, as bytes.
    const std::string& Caption() const { return caption_; }
    HFONT Font = nullptr; // not owned
    TColor FontColor = RgbColor(0, 0, 0);
    UINT Alignment = DT_LEFT; // DT_LEFT, DT_CENTER or DT_RIGHT
    void Paint(HDC dc) override;

private:
    std::string caption_;
    size_t ownLength_ = 0; // the leading UTF-8 part of caption_
};

// A filled rectangle without outline.
class TShape : public TGraphicControl {
public:
    TShape(int left, int top, int width, int height, bool visible) : TGraphicControl(left, top, width, height, visible) {}
    TColor BrushColor = RgbColor(255, 255, 255);
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
