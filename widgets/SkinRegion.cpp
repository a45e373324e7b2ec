#include "widgets/SkinRegion.h"

#include <cstring>

std::vector<TSpan> SkinSpans(const uint32_t* pixels, int32_t width, int32_t height, int32_t stride) {
    std::vector<TSpan> spans;
    if (width <= 0 || height <= 0) return spans;
    const uint32_t key = pixels[0] & 0xFFFFFFu;
    size_t previousRowStart = 0, previousRowEnd = 0; // the spans that reached the row above
    for (int32_t y = 0; y < height; ++y) {
        const uint32_t* row = pixels + static_cast<size_t>(y) * stride;
        std::vector<TSpan> rowSpans;
        for (int32_t x = 0; x < width;) {
            while (x < width && (row[x] & 0xFFFFFFu) == key) ++x;
            if (x == width) break;
            const int32_t left = x;
            while (x < width && (row[x] & 0xFFFFFFu) != key) ++x;
            rowSpans.push_back({left, y, x, y + 1});
        }
        // A row whose runs equal the row above only makes those rectangles taller.
        bool same = rowSpans.size() == previousRowEnd - previousRowStart && y > 0;
        for (size_t i = 0; same && i < rowSpans.size(); ++i) {
            const TSpan& above = spans[previousRowStart + i];
            same = above.Bottom == y && above.Left == rowSpans[i].Left && above.Right == rowSpans[i].Right;
        }
        if (same) {
            for (size_t i = previousRowStart; i < previousRowEnd; ++i) spans[i].Bottom = y + 1;
        } else {
            previousRowStart = spans.size();
            spans.insert(spans.end(), rowSpans.begin(), rowSpans.end());
            previousRowEnd = spans.size();
        }
    }
    return spans;
}

#ifdef _WIN32
HRGN CreateSkinRegion(HBITMAP bitmap) {
    BITMAP info{};
    if (!GetObjectW(bitmap, sizeof info, &info) || info.bmWidth <= 0 || info.bmHeight <= 0) return nullptr;
    const int32_t width = info.bmWidth, height = info.bmHeight;
    BITMAPINFO request{};
    request.bmiHeader.biSize = sizeof request.bmiHeader;
    request.bmiHeader.biWidth = width;
    request.bmiHeader.biHeight = -height; // top-down rows
    request.bmiHeader.biPlanes = 1;
    request.bmiHeader.biBitCount = 32;
    request.bmiHeader.biCompression = BI_RGB;
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
    HDC screen = GetDC(nullptr);
    const int rows = GetDIBits(screen, bitmap, 0, height, pixels.data(), &request, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    if (rows != height) return nullptr;

    const std::vector<TSpan> spans = SkinSpans(pixels.data(), width, height, width);
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
