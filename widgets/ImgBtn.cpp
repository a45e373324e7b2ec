#include "widgets/ImgBtn.h"

void TImgBtn::Show(TShown picture) {
    shown_ = picture;
    if (OnPictureChanged) OnPictureChanged();
}

void TImgBtn::MouseEnter(const TWMMouse& msg) {
    if (!Supported) return;
    Hovered = true;
    Show(Pressed ? TShown::PicDown : TShown::PicUp);
    if (OnMouseEnter) OnMouseEnter(msg);
}

void TImgBtn::MouseLeave(const TWMMouse& msg) {
    if (!Supported) return;
    Hovered = false;
    Show(TShown::Pic);
    if (OnMouseLeave) OnMouseLeave(msg);
}

void TImgBtn::LeftButtonDown(const TWMMouse& msg) {
    clicked_ = true; // the picture control's own part: a click may follow
    if (!Supported) return;
    Pressed = true;
    if (Hovered) Show(TShown::PicDown);
    if (OnMouseDown) OnMouseDown(msg);
}

void TImgBtn::LeftButtonUp(const TWMMouse& msg, bool clicks) {
    // The picture control's own part first: the click runs while the pressed picture is still shown.
    const bool click = clicked_ && clicks;
    clicked_ = false;
    if (click && OnClick) OnClick();
    if (!Supported) return;
    Pressed = false;
    if (Hovered) Show(TShown::PicUp);
    if (OnMouseUp) OnMouseUp(msg);
}
