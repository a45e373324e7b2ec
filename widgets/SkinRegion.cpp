#include "widgets/SkinRegion.h"

#include <algorithm>
#include <cstring>

void TSkinSpanBuilder::AddRow(const uint32_t* row) {
    if (y_ == 0) key_ = row[0] & 0xFFFFFFu;
    row_.clear();
    for (int32_t x = 0; x < width_;) {
        while (x < width_ && (row[x] & 0xFFFFFFu) == key_) ++x;
        if (x == width_) break;
        const int32_t left = x;
        while (x < width_ && (row[x] & 0xFFFFFFu) != key_) ++x;
        row_.push_back({left, y_, x, y_ + 1});
    }
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
HRGN CreateSkinRegion(HBITMAP bitmap) {
    BITMAP info{};
    if (!GetObjectW(bitmap, sizeof info, &info) || info.bmWidth <= 0 || info.bmHeight <= 0) return nullptr;
    const int32_t width = info.bmWidth, height = info.bmHeight;
    // The picture is read a band of rows at a time into one small buffer: a buffer for the whole
    // picture would cost more in fresh pages than the region itself takes to build.
    const int32_t bandRows = 32;
    std::vector<uint32_t> band(static_cast<size_t>(width) * bandRows);
    BITMAPINFO request{};
    request.bmiHeader.biSize = sizeof request.bmiHeader;
    request.bmiHeader.biWidth = width;
    request.bmiHeader.biHeight = height; // bottom-up scan lines: line 0 is the picture's last row
    request.bmiHeader.biPlanes = 1;
    request.bmiHeader.biBitCount = 32;
    request.bmiHeader.biCompression = BI_RGB;
    TSkinSpanBuilder builder(width);
    HDC dc = CreateCompatibleDC(nullptr);
    bool complete = true;
    for (int32_t top = 0; top < height && complete; top += bandRows) {
        const int32_t rows = std::min(bandRows, height - top);
        complete = GetDIBits(dc, bitmap, static_cast<UINT>(height - top - rows), static_cast<UINT>(rows), band.data(),
                             &request, DIB_RGB_COLORS) == rows;
        for (int32_t i = rows - 1; complete && i >= 0; --i) builder.AddRow(band.data() + static_cast<size_t>(i) * width);
    }
    DeleteDC(dc);
    if (!complete) return nullptr;

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
    return ExtCreateRegion(nullptr, static_cast<DWORD>(data.size()), reinterpret_cast<RGNDATA*>(data.data()));
}
#endif
