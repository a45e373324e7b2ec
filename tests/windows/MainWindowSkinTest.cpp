// The main window's skin for real under Wine: its components and shape, the image buttons driven
// by posted mouse messages, the drag, and gauge painting read back from a bitmap.
#include "tests/windows/MainWindowFixture.h"

using namespace testutil;

TEST_F(MainWindow, HasItsComponentsInPlaceAndTheShapeOfItsBackground) {
    Open();
    HWND hwnd = window->Handle();
    wchar_t caption[32] = {};
    GetWindowTextW(hwnd, caption, 32);
    EXPECT_STREQ(caption, L"FormMain");
    RECT client{}, place{};
    GetClientRect(hwnd, &client);
    GetWindowRect(hwnd, &place);
    EXPECT_EQ(client.right, 800);
    EXPECT_EQ(client.bottom, 599);
    EXPECT_EQ(place.right - place.left, 800); // no border
    EXPECT_EQ(GetWindowLongW(hwnd, GWL_STYLE) & (WS_CAPTION | WS_THICKFRAME), 0);
    EXPECT_EQ(window->Label3.Caption(), "... Загрузка ...");
    EXPECT_FALSE(window->Gauge1Control.Visible());
    EXPECT_FALSE(window->Gauge2Control.Visible());
    EXPECT_FALSE(window->Shape1.Visible());
    EXPECT_FALSE(window->Label4.Visible());
    EXPECT_FALSE(GetWindowLongW(window->Panel1, GWL_STYLE) & WS_VISIBLE);
    RECT panel{};
    GetWindowRect(window->Panel1, &panel);
    MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&panel), 2);
    EXPECT_EQ(panel.left, 7);
    EXPECT_EQ(panel.top, 37);
    EXPECT_EQ(panel.right, 793);
    EXPECT_EQ(panel.bottom, 416);
    const RECT expected[] = {{657, 440, 746, 566}, {288, 532, 394, 566}, {407, 532, 513, 566}, {769, 16, 785, 32},
                             {302, 436, 348, 451}, {350, 436, 406, 451}, {406, 436, 497, 451}};
    TImgBtnControl* buttons[] = {&window->ImgBtn1, &window->ImgBtn2, &window->ImgBtn3, &window->ImgBtn4,
                                 &window->ImgBtn5, &window->ImgBtn6, &window->ImgBtn7};
    for (int i = 0; i < 7; ++i) {
        const RECT r = buttons[i]->BoundsRect();
        EXPECT_TRUE(EqualRect(&r, &expected[i])) << "ImgBtn" << i + 1;
        EXPECT_EQ(buttons[i]->Button.Shown(), TImgBtn::TShown::Pic);
        EXPECT_TRUE(buttons[i]->Pic && buttons[i]->PicDown && buttons[i]->PicUp);
    }
    // The settings link covers none of the listed components.
    const RECT settings = window->ImgBtn8.BoundsRect();
    for (const RECT& r : expected) {
        RECT overlap{};
        EXPECT_FALSE(IntersectRect(&overlap, &r, &settings));
    }

    int width = 0, height = 0;
    const std::vector<uint32_t> picture = Pixels(window->Image1.Picture.Get(), &width, &height);
    ASSERT_EQ(width, 800);
    ASSERT_EQ(height, 599);
    const gdi::Region shape(CreateRectRgn(0, 0, 0, 0));
    ASSERT_NE(GetWindowRgn(hwnd, shape.Get()), ERROR);
    EXPECT_EQ(RegionMask(shape.Get(), width, height), NonKeyMask(picture));
    // Every component lies inside the shape.
    for (TImgBtnControl* button : buttons) {
        const RECT r = button->BoundsRect();
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x) ASSERT_NE(picture[y * 800 + x] & 0xFFFFFF, picture[0] & 0xFFFFFF);
    }
}

TEST(SkinRegionWin32, EqualsOneSubtractionPerKeyPixel) {
    // A white key with isolated white pixels inside, and a picture keyed only at (0, 0).
    for (int kind = 0; kind < 2; ++kind) {
        const int w = 61, h = 47;
        uint32_t* bits = nullptr;
        gdi::Bitmap picture = gdi::CreateDib(w, h, &bits);
        for (int i = 0; i < w * h; ++i) bits[i] = kind == 0 ? 0xFFFFFF : 0x336699;
        bits[0] = kind == 0 ? 0xFFFFFF : 0x00FF00;
        if (kind == 0) {
            for (int y = 5; y < 40; ++y)
                for (int x = 8 + y % 3; x < 55 - y % 5; ++x) bits[y * w + x] = 0x804020 + (x % 7);
            bits[20 * w + 30] = 0xFFFFFF;
            bits[21 * w + 31] = 0xFFFFFF;
        }
        GdiFlush();
        // The region is read from the DIB section itself, and from a device bitmap of the same picture.
        const gdi::WindowDC screen = gdi::ClientDC(nullptr);
        gdi::Bitmap device(CreateCompatibleBitmap(screen.Get(), w, h));
        {
            gdi::MemoryDC from(screen.Get(), picture.Get()), to(screen.Get(), device.Get());
            BitBlt(to.Get(), 0, 0, w, h, from.Get(), 0, 0, SRCCOPY);
        }
        gdi::Region ours = CreateSkinRegion(picture.Get());
        gdi::Region fromDevice = CreateSkinRegion(device.Get());
        gdi::Region reference(CreateRectRgn(0, 0, w, h));
        for (int x = 0; x < w; ++x)
            for (int y = 0; y < h; ++y)
                if ((bits[y * w + x] & 0xFFFFFF) == (bits[0] & 0xFFFFFF)) {
                    gdi::Region pixel(CreateRectRgn(x, y, x + 1, y + 1));
                    CombineRgn(reference.Get(), reference.Get(), pixel.Get(), RGN_DIFF);
                }
        ASSERT_TRUE(ours);
        EXPECT_TRUE(EqualRgn(ours.Get(), reference.Get())) << "picture " << kind;
        ASSERT_TRUE(fromDevice);
        EXPECT_TRUE(EqualRgn(fromDevice.Get(), reference.Get())) << "device picture " << kind;
        const std::vector<uint32_t> pixels(bits, bits + w * h);
        EXPECT_EQ(RegionMask(ours.Get(), w, h), NonKeyMask(pixels));
    }
}

TEST_F(MainWindow, ImageButtonsFollowPostedMouseMessagesAndTheBackgroundDrags) {
    Open();
    TImgBtn& site = window->ImgBtn5.Button;
    std::vector<std::string> clicks;
    site.OnClick = [&] { clicks.push_back(site.Shown() == TImgBtn::TShown::PicDown ? "PicDown" : "other"); };
    Mouse(WM_MOUSEMOVE, 320, 443);
    EXPECT_EQ(site.Shown(), TImgBtn::TShown::PicUp);
    Mouse(WM_LBUTTONDOWN, 320, 443, MK_LBUTTON);
    EXPECT_EQ(site.Shown(), TImgBtn::TShown::PicDown);
    Mouse(WM_MOUSEMOVE, 120, 500, MK_LBUTTON); // off the button, onto the background
    EXPECT_EQ(site.Shown(), TImgBtn::TShown::Pic);
    EXPECT_FALSE(window->Dragging); // the press belongs to the button
    Mouse(WM_MOUSEMOVE, 321, 444, MK_LBUTTON);
    EXPECT_EQ(site.Shown(), TImgBtn::TShown::PicDown);
    Mouse(WM_LBUTTONUP, 321, 444);
    EXPECT_EQ(clicks, std::vector<std::string>{"PicDown"});
    EXPECT_EQ(site.Shown(), TImgBtn::TShown::PicUp);
    // Pressed, released outside: no click.
    Mouse(WM_LBUTTONDOWN, 321, 444, MK_LBUTTON);
    Mouse(WM_MOUSEMOVE, 120, 500, MK_LBUTTON);
    Mouse(WM_LBUTTONUP, 120, 500);
    EXPECT_EQ(clicks.size(), 1u);
    EXPECT_EQ(site.Shown(), TImgBtn::TShown::Pic);

    // A disabled button takes no press: it reaches the window's surface, which starts a drag.
    int updates = 0;
    window->ImgBtn2.Button.OnClick = [&] { ++updates; };
    window->ImgBtn2.SetEnabled(false);
    Mouse(WM_LBUTTONDOWN, 300, 540, MK_LBUTTON);
    EXPECT_TRUE(window->Dragging);
    Mouse(WM_LBUTTONUP, 300, 540);
    EXPECT_EQ(updates, 0);
    EXPECT_FALSE(window->Dragging);

    // Disabled while held (a run's first callback disables play): the release is no click, and the
    // button lets go of its pressed look. Enabled again, it clicks.
    int plays = 0;
    window->ImgBtn1.Button.OnClick = [&] { ++plays; };
    Mouse(WM_MOUSEMOVE, 700, 500);
    Mouse(WM_LBUTTONDOWN, 700, 500, MK_LBUTTON);
    window->SetRunButtonsEnabled(false);
    Mouse(WM_LBUTTONUP, 700, 500);
    EXPECT_EQ(plays, 0);
    EXPECT_EQ(window->ImgBtn1.Button.Shown(), TImgBtn::TShown::PicUp);
    window->SetRunButtonsEnabled(true);
    Mouse(WM_LBUTTONDOWN, 700, 500, MK_LBUTTON);
    Mouse(WM_LBUTTONUP, 700, 500);
    EXPECT_EQ(plays, 1);

    // A right-button press on the background drags the window with the pointer.
    RECT start{}, moved{};
    GetWindowRect(window->Handle(), &start);
    Mouse(WM_RBUTTONDOWN, 100, 500, MK_RBUTTON);
    PostMessageW(window->Handle(), WM_MOUSEMOVE, MK_RBUTTON, MAKELPARAM(130, 480));
    Pump(30);
    PostMessageW(window->Handle(), WM_RBUTTONUP, 0, MAKELPARAM(130, 480));
    Pump(30);
    GetWindowRect(window->Handle(), &moved);
    EXPECT_EQ(moved.left - start.left, 30);
    EXPECT_EQ(moved.top - start.top, -20);
    EXPECT_FALSE(window->Dragging);
}

TEST(GaugePaintWin32, DrawsBarsBorderAndTheInvertedText) {
    const auto paint = [](TGauge& gauge, std::vector<uint32_t>* out) {
        uint32_t* bits = nullptr;
        gdi::Bitmap target = gdi::CreateDib(gauge.Width(), gauge.Height(), &bits);
        {
            gdi::MemoryDC dc(gdi::ClientDC(nullptr).Get(), target.Get());
            PaintGauge(gauge, dc.Get());
        }
        GdiFlush();
        out->assign(bits, bits + gauge.Width() * gauge.Height());
    };
    TGauge bar;
    bar.SetWidth(430);
    bar.SetHeight(5);
    bar.SetBorderStyle(bsNone);
    bar.SetShowText(false);
    bar.SetBackColor(RgbColor(160, 160, 164));
    bar.SetForeColor(RgbColor(255, 0, 0));
    bar.SetProgress(50);
    std::vector<uint32_t> pixels;
    paint(bar, &pixels);
    EXPECT_EQ(pixels[214], 0xFF0000u);
    EXPECT_EQ(pixels[215], 0xA0A0A4u);
    EXPECT_EQ(pixels[4 * 430 + 429], 0xA0A0A4u);

    TGauge small; // without border a 19-pixel gauge has W = 20
    small.SetWidth(19);
    small.SetHeight(4);
    small.SetBorderStyle(bsNone);
    small.SetShowText(false);
    small.SetForeColor(RgbColor(255, 0, 0));
    small.SetProgress(5);
    paint(small, &pixels);
    for (uint32_t p : pixels) ASSERT_EQ(p, 0xFFFFFFu); // 5 percent of 20 pixels fills nothing

    TGauge framed; // single border, text on, white back, black fore: the defaults
    framed.SetWidth(100);
    framed.SetHeight(20);
    framed.SetForeColor(RgbColor(0, 0, 255));
    framed.SetProgress(50);
    framed.SetShowText(false);
    std::vector<uint32_t> plain;
    paint(framed, &plain);
    for (int x = 0; x < 100; ++x) ASSERT_TRUE(plain[x] == 0 && plain[19 * 100 + x] == 0) << x;
    for (int y = 0; y < 20; ++y) ASSERT_TRUE(plain[y * 100] == 0 && plain[y * 100 + 99] == 0) << y;
    EXPECT_EQ(plain[10 * 100 + 10], 0x0000FFu);
    EXPECT_EQ(plain[10 * 100 + 90], 0xFFFFFFu);
    framed.SetShowText(true);
    std::vector<uint32_t> text;
    paint(framed, &text);
    // The text is XOR-ed on: each pixel differs from the plain bar by a grey level of the white text
    // (its smoothed edges), and its solid strokes invert the colour beneath completely.
    int inverted = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const uint32_t mask = (text[i] ^ plain[i]) & 0xFFFFFF;
        ASSERT_TRUE((mask & 0xFF) == ((mask >> 8) & 0xFF) && (mask & 0xFF) == (mask >> 16)) << i;
        inverted += mask == 0xFFFFFF;
    }
    EXPECT_GT(inverted, 10); // "50%" was drawn over both the filled and the unfilled part
}
