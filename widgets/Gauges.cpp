#include "widgets/Gauges.h"

#include "support/Errors.h"

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
