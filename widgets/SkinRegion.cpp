#include "widgets/SkinRegion.h"

#include <algorithm>
#include <cstring>

void TSkinSpanBuilder::EndRow() {
    // A row whose runs equal those of the row above only makes that band taller.
    bool same = y_ > 0 && row_.size() == spans_.size() - bandStart_;
    for (size_t i = 0; same && i < row_.size(); ++i) {
        const TSpan& above = spans_[bandStart_ + i];
        same = above.Left == row_[i].Left && above.Right == row_[i].Right;
    }
    if (same) {
        for (size_t i = bandStart_; i < spans_.size(); ++i) spans_[i].Bottom = y_ + 1;
    } else {
        bandStart_ = spans_.size();
        spans_.insert(spans_.end(), row_.begin(), row_.end());
    }
    ++y_;
}

std::vector<TSpan> SkinSpans(const uint32_t* pixels, int32_t width, int32_t height, int32_t stride) {
    TSkinSpanBuilder builder(width);
    if (width <= 0) return {};
    for (int32_t y = 0; y < height; ++y) builder.AddRow(pixels + static_cast<size_t>(y) * stride);
    return builder.Take();
}

#ifdef _WIN32
namespace {
// The picture is read a band of rows at a time into one small buffer (a buffer for the whole picture
// costs more in fresh pages than the region takes to build), in its own 24-bit format when it has
// one, so that reading is a plain copy. The system turns any row order into bottom-up scan lines.
bool AddPictureRows(HBITMAP bitmap, const BITMAP& info, TSkinSpanBuilder& builder) {
    const int32_t width = info.bmWidth, height = info.bmHeight;
    const bool threeBytes = info.bmBitsPixel == 24;
    const size_t stride = threeBytes ? (static_cast<size_t>(width) * 3 + 3) & ~size_t{3} : static_cast<size_t>(width) * 4;
    const int32_t bandRows = 32;
    std::vector<uint32_t> band((stride * bandRows + 3) / 4);
    BITMAPINFO request{};
    request.bmiHeader.biSize = sizeof request.bmiHeader;
    request.bmiHeader.biWidth = width;
    request.bmiHeader.biHeight = height; // bottom-up: scan line 0 is the picture's last row
    request.bmiHeader.biPlanes = 1;
    request.bmiHeader.biBitCount = threeBytes ? 24 : 32;
    request.bmiHeader.biCompression = BI_RGB;
    const gdi::CreatedDC dc(CreateCompatibleDC(nullptr));
    bool complete = true;
    for (int32_t top = 0; top < height && complete; top += bandRows) {
        const int32_t rows = std::min(bandRows, height - top);
        complete = GetDIBits(dc.Get(), bitmap, static_cast<UINT>(height - top - rows), static_cast<UINT>(rows), band.data(),
                             &request, DIB_RGB_COLORS) == rows;
        for (int32_t i = rows - 1; complete && i >= 0; --i) {
            const uint8_t* row = reinterpret_cast<const uint8_t*>(band.data()) + static_cast<size_t>(i) * stride;
            if (threeBytes) {
                builder.AddRow24(row);
            } else {
                builder.AddRow(reinterpret_cast<const uint32_t*>(row));
            }
        }
    }
    return complete;
}
} // namespace

gdi::Region CreateSkinRegion(HBITMAP bitmap) {
    BITMAP info{};
    if (!GetObjectW(bitmap, sizeof info, &info) || info.bmWidth <= 0 || info.bmHeight <= 0) return {};
    const int32_t width = info.bmWidth, height = info.bmHeight;
    TSkinSpanBuilder builder(width);
    if (!AddPictureRows(bitmap, info, builder)) return {};

    const std::vector<TSpan> spans = builder.Take();
    std::vector<char> data(sizeof(RGNDATAHEADER) + spans.size() * sizeof(RECT));
    auto* header = reinterpret_cast<RGNDATAHEADER*>(data.data());
    header->dwSize = sizeof(RGNDATAHEADER);
    header->iType = RDH_RECTANGLES;
    header->nCount = static_cast<DWORD>(spans.size());
    header->nRgnSize = static_cast<DWORD>(spans.size() * sizeof(RECT));
    header->rcBound = {0, 0, width, height};
    for (size_t i = 0; i < spans.size(); ++i) {
        const RECT r{spans[i].Left, spans[i].Top, spans[i].Right, spans[i].Bottom};
        std::memcpy(data.data() + sizeof(RGNDATAHEADER) + i * sizeof(RECT), &r, sizeof r);
    }
    return gdi::Region(
        ExtCreateRegion(nullptr, static_cast<DWORD>(data.size()), reinterpret_cast<RGNDATA*>(data.data())));
}
#endif
