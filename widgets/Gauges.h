// The progress gauge's value rules: range, clamped position and integer percentage. Drawing lives with
// the window; this part is what every gauge obeys whatever draws it.
#pragma once

#include <cstdint>

class TGauge {
public:
    int32_t MinValue() const { return min_; }
    int32_t MaxValue() const { return max_; }
    int32_t Progress() const { return progress_; }
    int32_t Width() const { return width_; }
    void SetWidth(int32_t width) { width_ = width; }

    // Raises EInvalidOperation "Value must be between %d and %d" for a range that would be inverted
    // (unless the gauge is being loaded); the gauge keeps its values.
    void SetMinValue(int32_t value);
    void SetMaxValue(int32_t value);
    // Clamped into the range; never an error.
    void SetProgress(int32_t value);
    // (Progress - Min) * 100 / (Max - Min), truncated; 0 for an empty range.
    int32_t Percentage() const;

    // While loading a stored layout the range check is skipped.
    bool Loading = false;
    // Counts repaints: a position change repaints only when the percentage changes.
    int RepaintCount = 0;

private:
    void Repaint() { ++RepaintCount; }

    int32_t min_ = 0;
    int32_t max_ = 100;
    int32_t progress_ = 0;
    int32_t width_ = 100;
};
