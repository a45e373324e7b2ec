#include "widgets/Controls.h"

#include "widgets/GaugePaint.h"
#include "widgets/SkinForm.h"
#include "widgets/WideText.h"

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
    const bool click = clicked_ && overControl && enabled_;
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

void TLabel::SetCaption(const std::string& own, const std::string& data) {
    if (own.size() == ownLength_ && caption_.compare(0, ownLength_, own) == 0 &&
        caption_.compare(ownLength_, std::string::npos, data) == 0)
        return;
    caption_ = own + data;
    ownLength_ = own.size();
    Invalidate();
}

void TLabel::Paint(HDC dc) {
    if (caption_.empty()) return;
    gdi::Selected font(dc, Font ? static_cast<HGDIOBJ>(Font) : GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, FontColor);
    RECT area{0, 0, Width, Height};
    const std::wstring text =
        Utf8ToWide(caption_.substr(0, ownLength_)) + AnsiToWide(caption_.substr(ownLength_));
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
    if (msg.Msg == WM_LBUTTONUP) Button.LeftButtonUp(msg, overControl && Enabled());
}
