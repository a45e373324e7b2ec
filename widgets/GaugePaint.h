// Draws a gauge with GDI: the kind onto an off-screen overlay, combined into an off-screen image, the
// percentage text XOR-ed over it, and the result copied to the target in one operation.
#pragma once

#include "widgets/Gauges.h"

#include <windows.h>

// Paints the gauge at (0, 0) of dc, its width and height taken from the gauge.
void PaintGauge(const TGauge& gauge, HDC dc, HFONT font = nullptr);
