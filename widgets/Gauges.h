// The progress gauge: its value rules (range, clamped position, integer percentage) and its look. The
// value rules and the geometry of each kind are portable; GaugePaint draws a gauge with GDI.
#pragma once

#include "widgets/Colors.h"

#include <cstdint>
#include <functional>

enum TGaugeKind { gkText = 0, gkHorizontalBar = 1, gkVerticalBar = 2, gkPie = 3, gkNeedle = 4 };
enum TBorderStyle { bsNone = 0, bsSingle = 1 };

class TGauge {
public:
    int32_t MinValue() const { return min_; }
    int32_t MaxValue() const { return max_; }
    int32_t Progress() const { return progress_; }
    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }
    void SetWidth(int32_t width) { width_ = width; }
    void SetHeight(int32_t height) { height_ = height; }

    // Raises EInvalidOperation "Value must be between %d and %d" for a range that would be inverted
    // (unless the gauge is being loaded); the gauge keeps its values.
    void SetMinValue(int32_t value);
    void SetMaxValue(int32_t value);
    // Clamped into the range; never an error.
    void SetProgress(int32_t value);
    // (Progress - Min) * 100 / (Max - Min), truncated; 0 for an empty range.
    int32_t Percentage() const;

    // The look: each setter repaints only when the value changes.
    TGaugeKind Kind() const { return kind_; }
    bool ShowText() const { return showText_; }
    TBorderStyle BorderStyle() const { return border_; }
    TColor ForeColor() const { return fore_; }
    TColor BackColor() const { return back_; }
    void SetKind(TGaugeKind value) { SetLook(kind_, value); }
    void SetShowText(bool value) { SetLook(showText_, value); }
    void SetBorderStyle(TBorderStyle value) { SetLook(border_, value); }
    void SetForeColor(TColor value) { SetLook(fore_, value); }
    void SetBackColor(TColor value) { SetLook(back_, value); }
    // The control's own colour (around a pie or needle), inherited from its parent by default.
    TColor Color = RgbColor(212, 208, 200);

    // While loading a stored layout the range check is skipped.
    bool Loading = false;
    // Counts repaints: a position change repaints only when the percentage changes.
    int RepaintCount = 0;
    // Called at every repaint, so the control on screen can redraw.
    std::function<void()> OnRepaint;

private:
    void Repaint() {
        ++RepaintCount;
        if (OnRepaint) OnRepaint();
    }
    template <typename T> void SetLook(T& field, T value) {
        if (field == value) return;
        field = value;
        Repaint();
    }

    int32_t min_ = 0;
    int32_t max_ = 100;
    int32_t progress_ = 0;
    int32_t width_ = 100;
    int32_t height_ = 100;
    TGaugeKind kind_ = gkHorizontalBar;
    bool showText_ = true;
    TBorderStyle border_ = bsSingle;
    TColor fore_ = RgbColor(0, 0, 0);
    TColor back_ = RgbColor(255, 255, 255);
};

// Where a gauge draws, as absolute coordinates inside the control (right and bottom exclusive).
struct TGaugeRect {
    int32_t Left, Top, Right, Bottom;
};

// The geometry of each kind, computed the way the drawing needs it (extended-precision products,
// truncation, halves rounded to the even neighbour).
namespace gauge_geometry {
// The client rectangle, shrunk by one pixel on each side for a single border.
TGaugeRect PaintRect(int32_t width, int32_t height, TBorderStyle border);
// The horizontal bar's filled length F (absolute right edge), already capped at W.
int32_t HorizontalFill(int32_t w, int32_t percentage);
// The vertical bar's filled height F, capped at H - 1.
int32_t VerticalFill(int32_t h, int32_t percentage);
// The pie's first radial point for a percentage in a W x H box.
void PieRadialPoint(int32_t w, int32_t h, int32_t percentage, int32_t* x, int32_t* y);
// The needle's end point: midX is the control's width div 2, bottom the paint rectangle's bottom.
void NeedlePoint(int32_t midX, int32_t bottom, int32_t percentage, int32_t* x, int32_t* y);
} // namespace gauge_geometry
