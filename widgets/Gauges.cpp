#include "widgets/Gauges.h"

#include "platform/Errors.h"

#include <cmath>
#include <string>

namespace {
[[noreturn]] void RaiseRange(int64_t low, int64_t high) {
    throw EInvalidOperation("Value must be between " + std::to_string(low) + " and " + std::to_string(high));
}
// The 32-bit difference, wrapping as the gauge's integer arithmetic does.
int32_t Difference(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
} // namespace

void TGauge::SetMinValue(int32_t value) {
    if (value == min_) return;
    if (value > max_ && !Loading) RaiseRange(-2147483647LL, static_cast<int64_t>(max_) - 1);
    min_ = value;
    if (progress_ < value) progress_ = value;
    Repaint();
}

void TGauge::SetMaxValue(int32_t value) {
    if (value == max_) return;
    if (value < min_ && !Loading) RaiseRange(static_cast<int64_t>(min_) + 1, 2147483647LL);
    max_ = value;
    if (progress_ > value) progress_ = value;
    Repaint();
}

void TGauge::SetProgress(int32_t value) {
    const int32_t before = Percentage();
    if (value < min_) value = min_;
    if (value > max_) value = max_;
    if (value == progress_) return;
    progress_ = value;
    if (Percentage() != before) Repaint();
}

int32_t TGauge::Percentage() const {
    const int32_t range = Difference(max_, min_);
    if (range == 0) return 0;
    const double done = static_cast<double>(Difference(progress_, min_)) * 100.0 / static_cast<double>(range);
    return static_cast<int32_t>(std::trunc(done));
}

namespace gauge_geometry {

TGaugeRect PaintRect(int32_t width, int32_t height, TBorderStyle border) {
    TGaugeRect r{0, 0, width, height};
    if (border == bsSingle) r = {1, 1, width - 1, height - 1};
    return r;
}

// The products run in extended precision, as the gauge always has: 5 percent of 20 pixels is 0.
int32_t HorizontalFill(int32_t w, int32_t percentage) {
    const long double product = static_cast<long double>(w) * (static_cast<long double>(percentage) * 0.01L);
    int32_t f = static_cast<int32_t>(std::trunc(product));
    return f > w ? w : f;
}

int32_t VerticalFill(int32_t h, int32_t percentage) {
    const long double product = static_cast<long double>(h) * (static_cast<long double>(percentage) * 0.01L);
    int32_t f = static_cast<int32_t>(std::trunc(product));
    return f >= h ? h - 1 : f;
}

namespace {
const long double kPi = 3.141592653589793238462643383279502884L;
int32_t RoundEven(long double value) { return static_cast<int32_t>(std::nearbyint(value)); }
} // namespace

void PieRadialPoint(int32_t w, int32_t h, int32_t percentage, int32_t* x, int32_t* y) {
    const int32_t midX = w / 2, midY = h / 2;
    const long double a = (static_cast<long double>(percentage) / 50.0L + 0.5L) * kPi;
    *x = RoundEven(midX * (1.0L - std::cos(a)));
    *y = RoundEven(midY * (1.0L - std::sin(a)));
}

void NeedlePoint(int32_t midX, int32_t bottom, int32_t percentage, int32_t* x, int32_t* y) {
    const long double a = static_cast<long double>(percentage) / 100.0L * kPi;
    *x = RoundEven(midX * (1.0L - std::cos(a)));
    *y = RoundEven((bottom - 1) * (1.0L - std::sin(a)));
}

} // namespace gauge_geometry
