// A skinned window's shape: every pixel of its background picture whose colour differs from the key
// colour of pixel (0, 0). Built from row spans, so the whole region is made in one call instead of one
// subtraction per key-coloured pixel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// One rectangle of the region: right and bottom exclusive.
struct TSpan {
    int32_t Left, Top, Right, Bottom;
};

// Collects the runs of non-key pixels row by row, left to right; runs that repeat exactly on the
// following rows are merged into one taller rectangle, so the result is banded as regions are.
class TSkinSpanBuilder {
public:
    explicit TSkinSpanBuilder(int32_t width) : width_(width) {}
    // The next row from the top: 32-bit 0x00RRGGBB values (the top byte is ignored). The key colour
    // is the first pixel of the first row.
    void AddRow(const uint32_t* row) {
        AddRowWith([row](int32_t x) { return row[x] & 0xFFFFFFu; });
    }
    // The same for a row of 24-bit pixels as a DIB stores them (blue, green, red).
    void AddRow24(const uint8_t* row) {
        AddRowWith([row](int32_t x) {
            const uint8_t* p = row + 3 * static_cast<size_t>(x);
            return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16;
        });
    }
    std::vector<TSpan> Take() { return std::move(spans_); }

private:
    template <typename ColourAt> void AddRowWith(ColourAt colourAt) {
        if (y_ == 0) key_ = colourAt(0);
        row_.clear();
        for (int32_t x = 0; x < width_;) {
            while (x < width_ && colourAt(x) == key_) ++x;
            if (x == width_) break;
            const int32_t left = x;
            while (x < width_ && colourAt(x) != key_) ++x;
            row_.push_back({left, y_, x, y_ + 1});
        }
        EndRow();
    }
    void EndRow(); // merges the row into the band above when their runs match

    int32_t width_;
    int32_t y_ = 0;
    uint32_t key_ = 0;
    size_t bandStart_ = 0; // the spans of the band the last row belongs to
    std::vector<TSpan> spans_;
    std::vector<TSpan> row_;
};

// pixels: top-down rows, stride in pixels.
std::vector<TSpan> SkinSpans(const uint32_t* pixels, int32_t width, int32_t height, int32_t stride);

#ifdef _WIN32
#include "widgets/GdiHandles.h"
// The region of a bitmap's non-key pixels, or none when the bitmap cannot be read.
gdi::Region CreateSkinRegion(HBITMAP bitmap);
#endif
