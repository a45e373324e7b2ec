// The image button's behaviour: which of its three pictures it shows and which notifications it
// sends as the mouse enters, leaves, presses and releases. Portable; ImgBtnControl gives it pictures
// and Windows mouse input.
#pragma once

#include <cstdint>
#include <functional>

// The mouse message that caused a notification: number, key state, position, result.
struct TWMMouse {
    uint32_t Msg = 0;
    int32_t Keys = 0;
    int16_t XPos = 0;
    int16_t YPos = 0;
    intptr_t Result = 0;
};

using TOnMouseEvent = std::function<void(const TWMMouse& Msg)>;
using TNotifyEvent = std::function<void()>;

class TImgBtn {
public:
    // Which stored picture was copied into the shown one last.
    enum class TShown { None, Pic, PicDown, PicUp };

    bool Hovered = false;
    bool Pressed = false;
    TOnMouseEvent OnMouseEnter;
    TOnMouseEvent OnMouseLeave;
    TOnMouseEvent OnMouseDown;
    TOnMouseEvent OnMouseUp;
    // Picture swapping and the four notifications are active.
    bool Supported = true;
    // The click event (the form's ImgBtnNClick): a release over the button after a press on it.
    TNotifyEvent OnClick;
    // Called whenever the shown picture is replaced, so the control repaints.
    TNotifyEvent OnPictureChanged;

    TShown Shown() const { return shown_; }
    // Setting Pic shows it at once; what the form does for every button when it is created.
    void ShowPic() { Show(TShown::Pic); }

    // The four messages the button reacts to. clicks: the release may be a click, being over the
    // button while the button is enabled (one disabled while held reports no click).
    void MouseEnter(const TWMMouse& msg);
    void MouseLeave(const TWMMouse& msg);
    void LeftButtonDown(const TWMMouse& msg);
    void LeftButtonUp(const TWMMouse& msg, bool clicks);

private:
    void Show(TShown picture);
    bool clicked_ = false; // a press on the button that a release may turn into a click
    TShown shown_ = TShown::None;
};
