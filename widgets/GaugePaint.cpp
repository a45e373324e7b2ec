#include "widgets/GaugePaint.h"

#include "widgets/GdiHandles.h"

#include <cstdio>

namespace {

// An off-screen bitmap like the image, filled with the window-frame colour (TBltBitmap.MakeLike).
gdi::Bitmap MakeLike(HDC dc, int width, int height) {
    gdi::Bitmap bitmap(CreateCompatibleBitmap(dc, width, height));
    gdi::MemoryDC target(dc, bitmap.Get());
    RECT all{0, 0, width, height};
    FillRect(target.Get(), &all, GetSysColorBrush(COLOR_WINDOWFRAME));
    return bitmap;
}

void Fill(HDC dc, int left, int top, int right, int bottom, TColor color) {
    gdi::Brush brush(CreateSolidBrush(color));
    RECT area{left, top, right, bottom};
    FillRect(dc, &area, brush.Get());
}

void DrawKind(const TGauge& gauge, HDC dc, const TGaugeRect& r) {
    const int32_t percentage = gauge.Percentage();
    switch (gauge.Kind()) {
    case gkText: Fill(dc, r.Left, r.Top, r.Right, r.Bottom, gauge.BackColor()); break;
    case gkHorizontalBar: {
        const int32_t w = r.Right - r.Left + 1;
        Fill(dc, r.Left, r.Top, r.Right, r.Bottom, gauge.BackColor());
        const int32_t f = gauge_geometry::HorizontalFill(w, percentage);
        if (f >= 1) Fill(dc, r.Left, r.Top, f, r.Bottom - r.Top + 1, gauge.ForeColor());
        break;
    }
    case gkVerticalBar: {
        const int32_t w = r.Right - r.Left + 1, h = r.Bottom - r.Top + 1;
        Fill(dc, r.Left, r.Top, r.Right, r.Bottom, gauge.BackColor());
        const int32_t f = gauge_geometry::VerticalFill(h, percentage);
        Fill(dc, r.Left, h - f, w, h, gauge.ForeColor());
        break;
    }
    case gkPie:
    case gkNeedle: {
        const int32_t extra = gauge.BorderStyle() == bsSingle ? 1 : 0;
        const int32_t w = r.Right - r.Left + extra, h = r.Bottom - r.Top + extra;
        Fill(dc, r.Left, r.Top, r.Right, r.Bottom, gauge.Color);
        gdi::Pen pen(CreatePen(PS_SOLID, 1, gauge.ForeColor()));
        gdi::Selected usePen(dc, pen.Get());
        gdi::Brush back(CreateSolidBrush(gauge.BackColor()));
        gdi::Selected useBack(dc, back.Get());
        SetArcDirection(dc, AD_COUNTERCLOCKWISE);
        if (gauge.Kind() == gkPie) {
            Ellipse(dc, r.Left, r.Top, w, h);
            if (percentage > 0) {
                gdi::Brush fore(CreateSolidBrush(gauge.ForeColor()));
                gdi::Selected useFore(dc, fore.Get());
                int32_t x = 0, y = 0;
                gauge_geometry::PieRadialPoint(w, h, percentage, &x, &y);
                Pie(dc, r.Left, r.Top, w, h, x, y, w / 2, 0);
            }
        } else {
            Pie(dc, r.Left, r.Top, w, 2 * h - 1, r.Left + w, r.Bottom - 1, r.Left, r.Bottom - 1);
            MoveToEx(dc, r.Left, r.Bottom, nullptr);
            LineTo(dc, r.Left + w, r.Bottom);
            if (percentage > 0) {
                const int32_t midX = gauge.Width() / 2;
                int32_t x = 0, y = 0;
                gauge_geometry::NeedlePoint(midX, r.Bottom, percentage, &x, &y);
                MoveToEx(dc, midX, r.Bottom - 1, nullptr);
                LineTo(dc, x, y);
            }
        }
        break;
    }
    }
}

} // namespace

void PaintGauge(const TGauge& gauge, HDC dc, HFONT font) {
    const int width = gauge.Width(), height = gauge.Height();
    if (width <= 0 || height <= 0) return;
    gdi::Bitmap image(CreateCompatibleBitmap(dc, width, height));
    gdi::MemoryDC imageDC(dc, image.Get());
    BitBlt(imageDC.Get(), 0, 0, width, height, nullptr, 0, 0, BLACKNESS);
    const TGaugeRect r = gauge_geometry::PaintRect(width, height, gauge.BorderStyle());
    {
        gdi::Bitmap overlay = MakeLike(dc, width, height);
        gdi::MemoryDC overlayDC(dc, overlay.Get());
        BitBlt(overlayDC.Get(), 0, 0, width, height, nullptr, 0, 0, BLACKNESS);
        DrawKind(gauge, overlayDC.Get(), r);
        BitBlt(imageDC.Get(), 0, 0, width, height, overlayDC.Get(), 0, 0, SRCINVERT);
    }
    if (gauge.ShowText()) {
        wchar_t text[16];
        const int length = swprintf(text, 16, L"%d%%", static_cast<int>(gauge.Percentage()));
        gdi::Bitmap textBitmap(CreateCompatibleBitmap(dc, width, height));
        gdi::MemoryDC textDC(dc, textBitmap.Get());
        BitBlt(textDC.Get(), 0, 0, width, height, nullptr, 0, 0, BLACKNESS);
        gdi::Selected useFont(textDC.Get(), font ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT));
        SetBkMode(textDC.Get(), TRANSPARENT);
        SetTextColor(textDC.Get(), RgbColor(255, 255, 255));
        SIZE extent{};
        GetTextExtentPoint32W(textDC.Get(), text, length, &extent);
        const int x = (r.Right - r.Left + 1 - extent.cx) / 2;
        const int y = (r.Bottom - r.Top + 1 - extent.cy) / 2;
        RECT clip{r.Left, r.Top, r.Right, r.Bottom};
        ExtTextOutW(textDC.Get(), x, y, ETO_CLIPPED, &clip, text, static_cast<UINT>(length), nullptr);
        BitBlt(imageDC.Get(), 0, 0, width, height, textDC.Get(), 0, 0, SRCINVERT);
    }
    BitBlt(dc, 0, 0, width, height, imageDC.Get(), 0, 0, SRCCOPY);
}
