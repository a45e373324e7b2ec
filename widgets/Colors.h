// The one way the launcher writes a colour: TColor, as the window system stores it (0x00BBGGRR, the
// layout of a COLORREF), made with RgbColor. Portable, so the gauges' and the dialog's layouts can name
// colours without Windows headers.
#pragma once

#include <cstdint>

using TColor = uint32_t;
constexpr TColor RgbColor(uint8_t r, uint8_t g, uint8_t b) {
    return static_cast<TColor>(r) | (static_cast<TColor>(g) << 8) | (static_cast<TColor>(b) << 16);
}
