// TODO: remove with MainWindowSeams.h once widgets/SkinRegion.h and the app's ShowException are on main.
#include "settings/MainWindowSeams.h"

#include <cstdint>
#include <string>
#include <vector>

HRGN CreateSkinRegion(HBITMAP bitmap) {
    BITMAP info{};
    if (!GetObjectW(bitmap, sizeof info, &info) || info.bmWidth <= 0 || info.bmHeight <= 0) return nullptr;
    const int width = info.bmWidth, height = info.bmHeight;
    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = width;
    format.bmiHeader.biHeight = -height; // top row first
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
    HDC screen = GetDC(nullptr);
    const int rows = GetDIBits(screen, bitmap, 0, height, pixels.data(), &format, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    if (rows != height) return nullptr;

    // One rectangle per run of non-key pixels in a row.
    const uint32_t key = pixels[0] & 0xFFFFFF;
    std::vector<RECT> runs;
    for (int y = 0; y < height; ++y) {
        const uint32_t* row = &pixels[static_cast<size_t>(y) * width];
        for (int x = 0; x < width;) {
            if ((row[x] & 0xFFFFFF) == key) {
                ++x;
                continue;
            }
            const int from = x;
            while (x < width && (row[x] & 0xFFFFFF) != key)
                ++x;
            runs.push_back(RECT{from, y, x, y + 1});
        }
    }
    std::vector<unsigned char> data(sizeof(RGNDATAHEADER) + runs.size() * sizeof(RECT));
    auto* header = reinterpret_cast<RGNDATAHEADER*>(data.data());
    header->dwSize = sizeof(RGNDATAHEADER);
    header->iType = RDH_RECTANGLES;
    header->nCount = static_cast<DWORD>(runs.size());
    header->rcBound = RECT{0, 0, width, height};
    if (!runs.empty()) memcpy(data.data() + sizeof(RGNDATAHEADER), runs.data(), runs.size() * sizeof(RECT));
    return ExtCreateRegion(nullptr, static_cast<DWORD>(data.size()), reinterpret_cast<RGNDATA*>(data.data()));
}

void ShowException(const std::exception& error) {
    const std::string message = error.what();
    std::wstring text(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, message.c_str(), -1, nullptr, 0)),
                      L'\0');
    MultiByteToWideChar(CP_ACP, 0, message.c_str(), -1, text.data(), static_cast<int>(text.size()));
    MessageBoxW(GetActiveWindow(), text.c_str(), L"Vandrel_Updater", MB_OK | MB_ICONERROR);
}
