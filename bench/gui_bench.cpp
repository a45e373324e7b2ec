// Window benchmarks under Wine. "region": builds the region of the shipped 800 x 599 background from
// row spans, and the same region with one CombineRgn subtraction per key pixel; checks that both are
// equal, then prints the seconds each takes per build: "OURS REFERENCE".
#include "widgets/GdiHandles.h"
#include "widgets/SkinRegion.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {
gdi::Region SubtractEveryKeyPixel(HBITMAP picture) {
    BITMAP info{};
    GetObjectW(picture, sizeof info, &info);
    const int w = info.bmWidth, h = info.bmHeight;
    BITMAPINFO request{};
    request.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<uint32_t> pixels(static_cast<size_t>(w) * h);
    GetDIBits(gdi::ClientDC(nullptr).Get(), picture, 0, h, pixels.data(), &request, DIB_RGB_COLORS);
    const uint32_t key = pixels[0] & 0xFFFFFF;
    gdi::Region region(CreateRectRgn(0, 0, w, h));
    for (int x = 0; x < w; ++x)
        for (int y = 0; y < h; ++y)
            if ((pixels[static_cast<size_t>(y) * w + x] & 0xFFFFFF) == key) {
                const gdi::Region pixel(CreateRectRgn(x, y, x + 1, y + 1));
                CombineRgn(region.Get(), region.Get(), pixel.Get(), RGN_DIFF);
            }
    return region;
}

template <typename F> double SecondsPerCall(F&& build, int rounds) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i) build(); // each region is deleted as it is made
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / rounds;
}
} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "region") != 0) {
        std::fprintf(stderr, "usage: vandrel-gui-bench region\n");
        return 2;
    }
    gdi::Bitmap background(static_cast<HBITMAP>(
        LoadImageW(GetModuleHandleW(nullptr), L"BACKGROUND", IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    if (!background) return 1;
    const gdi::Region ours = CreateSkinRegion(background.Get());
    const gdi::Region reference = SubtractEveryKeyPixel(background.Get());
    if (!ours || !EqualRgn(ours.Get(), reference.Get())) {
        std::fprintf(stderr, "the two regions differ\n");
        return 1;
    }
    const double oursSeconds = SecondsPerCall([&] { return CreateSkinRegion(background.Get()); }, 50);
    const double referenceSeconds = SecondsPerCall([&] { return SubtractEveryKeyPixel(background.Get()); }, 3);
    std::printf("%.6f %.6f\n", oursSeconds, referenceSeconds);
    return 0;
}
