// A skinned window's shape: every pixel of its background picture whose colour differs from the key
// colour of pixel (0, 0). Built from row spans, so the whole region is made in one call instead of one
// subtraction per key-coloured pixel.
#pragma once

#include <cstdint>
#include <vector>

// One rectangle of the region: right and bottom exclusive.
struct TSpan {
    int32_t Left, Top, Right, Bottom;
};

// pixels: top-down rows of 32-bit 0x00RRGGBB values (the top byte is ignored), stride in pixels.
// Returns the runs of non-key pixels, row by row, left to right; runs that repeat exactly on the
// following rows are merged into one taller rectangle.
std::vector<TSpan> SkinSpans(const uint32_t* pixels, int32_t width, int32_t height, int32_t stride);

#ifdef _WIN32
#include <windows.h>
// The region of a bitmap's non-key pixels, or null when the bitmap cannot be read. The caller owns it.
HRGN CreateSkinRegion(HBITMAP bitmap);
#endif
