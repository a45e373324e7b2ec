// The launcher window's portable rules: the image button's pictures and notifications, the skin
// region's spans, the gauge's drawing geometry and the configuration list.
#include "app/LauncherConfig.h"
#include "widgets/Gauges.h"
#include "widgets/ImgBtn.h"
#include "widgets/SkinRegion.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

using Shown = TImgBtn::TShown;

namespace {
// Records notifications and clicks with the picture shown at that moment.
struct TButtonLog {
    explicit TButtonLog(TImgBtn& button) {
        button.OnClick = [this, &button] { events.push_back("click:" + Name(button.Shown())); };
        button.OnMouseEnter = [this](const TWMMouse&) { events.push_back("enter"); };
        button.OnMouseLeave = [this](const TWMMouse&) { events.push_back("leave"); };
        button.OnMouseDown = [this](const TWMMouse&) { events.push_back("down"); };
        button.OnMouseUp = [this](const TWMMouse&) { events.push_back("up"); };
    }
    static std::string Name(Shown shown) {
        switch (shown) {
        case Shown::Pic: return "Pic";
        case Shown::PicDown: return "PicDown";
        case Shown::PicUp: return "PicUp";
        default: return "None";
        }
    }
    std::vector<std::string> events;
};
} // namespace

TEST(ImgBtn, SwapsPicturesAndReportsTheClickBeforeTheHoverPictureReturns) {
    TImgBtn button;
    TButtonLog log(button);
    const TWMMouse msg;
    button.ShowPic();
    button.MouseEnter(msg);
    EXPECT_EQ(button.Shown(), Shown::PicUp);
    button.LeftButtonDown(msg);
    EXPECT_EQ(button.Shown(), Shown::PicDown);
    button.LeftButtonUp(msg, true);
    EXPECT_EQ(button.Shown(), Shown::PicUp);
    EXPECT_EQ(log.events, (std::vector<std::string>{"enter", "down", "click:PicDown", "up"}));

    // Pressed, moved off, back on, off again and released outside: no click, Pic shown.
    log.events.clear();
    button.LeftButtonDown(msg);
    button.MouseLeave(msg);
    EXPECT_EQ(button.Shown(), Shown::Pic);
    EXPECT_TRUE(button.Pressed);
    button.MouseEnter(msg);
    EXPECT_EQ(button.Shown(), Shown::PicDown);
    button.MouseLeave(msg);
    button.LeftButtonUp(msg, false);
    EXPECT_EQ(button.Shown(), Shown::Pic);
    EXPECT_FALSE(button.Pressed);
    EXPECT_EQ(log.events, (std::vector<std::string>{"down", "leave", "enter", "leave", "up"}));
}

TEST(ImgBtn, WithoutSupportKeepsItsPictureAndStillClicks) {
    TImgBtn button;
    TButtonLog log(button);
    const TWMMouse msg;
    button.ShowPic();
    button.Supported = false;
    button.MouseEnter(msg);
    button.LeftButtonDown(msg);
    button.LeftButtonUp(msg, true);
    button.MouseLeave(msg);
    EXPECT_EQ(button.Shown(), Shown::Pic);
    EXPECT_FALSE(button.Hovered);
    EXPECT_EQ(log.events, (std::vector<std::string>{"click:Pic"}));
}

namespace {
// The pixel set a list of spans covers, and the one a picture's non-key pixels make.
std::set<std::pair<int, int>> Covered(const std::vector<TSpan>& spans) {
    std::set<std::pair<int, int>> pixels;
    for (const TSpan& s : spans)
        for (int y = s.Top; y < s.Bottom; ++y)
            for (int x = s.Left; x < s.Right; ++x) EXPECT_TRUE(pixels.insert({x, y}).second) << "overlap";
    return pixels;
}
std::set<std::pair<int, int>> NonKey(const std::vector<uint32_t>& picture, int width, int height) {
    std::set<std::pair<int, int>> pixels;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if ((picture[y * width + x] & 0xFFFFFF) != (picture[0] & 0xFFFFFF)) pixels.insert({x, y});
    return pixels;
}
} // namespace

TEST(SkinRegion, SpansCoverExactlyThePixelsThatDifferFromTheKeyColour) {
    const int w = 37, h = 23;
    std::vector<uint32_t> ring(w * h, 0x00FF00);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if ((x - 18) * (x - 18) + (y - 11) * (y - 11) * 3 < 300) ring[y * w + x] = 0xC8B090 + (x & 1);
    ring[5 * w + 18] = 0xFF00FF00; // the top byte is not part of the colour: still key
    ring[11 * w + 18] = 0x00FF00;  // an isolated key pixel inside is cut out too
    EXPECT_EQ(Covered(SkinSpans(ring.data(), w, h, w)), NonKey(ring, w, h));

    std::vector<uint32_t> white(w * h, 0x102030);
    white[0] = 0xFFFFFF;
    white[7 * w + 30] = 0xFFFFFF;
    white[22 * w + 36] = 0xFFFFFF;
    const auto spans = SkinSpans(white.data(), w, h, w);
    EXPECT_EQ(Covered(spans), NonKey(white, w, h));
    EXPECT_EQ(Covered(spans).size(), static_cast<size_t>(w * h - 3));

    std::vector<uint32_t> onlyCorner(w * h, 0x808080);
    onlyCorner[0] = 0x00FF00;
    EXPECT_EQ(Covered(SkinSpans(onlyCorner.data(), w, h, w)).size(), static_cast<size_t>(w * h - 1));
    // Equal rows collapse into one rectangle: a plain picture is two rectangles.
    EXPECT_EQ(SkinSpans(onlyCorner.data(), w, h, w).size(), 2u);
}

TEST(GaugeGeometry, FillsTruncateInExtendedPrecisionAndStayInside) {
    // A 430-pixel bar without border: W is 431, half of it fills 215.
    const TGaugeRect r = gauge_geometry::PaintRect(430, 5, bsNone);
    EXPECT_EQ(gauge_geometry::HorizontalFill(r.Right - r.Left + 1, 50), 215);
    EXPECT_EQ(gauge_geometry::HorizontalFill(431, 100), 431);
    EXPECT_EQ(gauge_geometry::HorizontalFill(20, 5), 0); // 5 percent of 20 pixels
    EXPECT_EQ(gauge_geometry::VerticalFill(10, 100), 9);
    const TGaugeRect framed = gauge_geometry::PaintRect(100, 20, bsSingle);
    EXPECT_EQ(framed.Left, 1);
    EXPECT_EQ(framed.Bottom, 19);
    int x = 0, y = 0;
    gauge_geometry::PieRadialPoint(100, 100, 25, &x, &y); // a quarter: from the right edge up to the top
    EXPECT_EQ(x, 100);
    EXPECT_EQ(y, 50);
    gauge_geometry::NeedlePoint(50, 51, 50, &x, &y); // half: the needle stands up
    EXPECT_EQ(x, 50);
    EXPECT_EQ(y, 0);
}

TEST(LauncherConfig, BuildsTheEightSlotsFromConstants) {
    TBranding branding{"http://news/", "http://update/", "Game", "", "", "", "", ""};
    const LauncherConfig config = BuildLauncherConfig(TInstallFolder("D:\\Games\\Client"), branding);
    EXPECT_EQ(config[SlotInstallDir], "D:\\Games\\Client\\");
    EXPECT_EQ(config[SlotNewsUrl], "http://news/");
    EXPECT_EQ(config[SlotUpdateUrl], "http://update/");
    EXPECT_EQ(config[SlotShortcutName], "Game");
    EXPECT_EQ(config[SlotSpare], "0");
    EXPECT_EQ(config[SlotCreateBackup], "0");
    EXPECT_EQ(config[SlotRevision], "0");
    EXPECT_EQ(config[SlotGameExe], "system\\zr.exe");
    EXPECT_EQ(BuildLauncherConfig(TInstallFolder("C:\\"), branding)[SlotInstallDir], "C:\\\\"); // a root: two separators
}
