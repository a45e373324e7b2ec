// What the main window's tests under Wine share: a pumped message loop, pictures and regions read back
// as pixels, and a fixture that opens the window in a client folder of its own beside the test server.
#pragma once

#include "app/LauncherApp.h"
#include "app/UnitMain.h"
#include "update/StatusTexts.h"
#include "platform/Errors.h"
#include "platform/Platform.h"
#include "platform/win32/ScopedOwner.h"
#include "support/Misc.h"
#include "tests/common/TestUtil.h"
#include "tests/windows/TestServerEnv.h"
#include "widgets/GaugePaint.h"
#include "widgets/GuiErrors.h"
#include "widgets/Shell.h"
#include "widgets/SkinRegion.h"

#include <exdispid.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>
#include <vector>


namespace testutil {


inline void Pump(int milliseconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(5);
    } while (std::chrono::steady_clock::now() < end);
}

inline bool PumpUntil(const std::function<bool()>& done, int milliseconds) {
    for (int waited = 0; waited < milliseconds; waited += 20) {
        if (done()) return true;
        Pump(20);
    }
    return done();
}

inline std::string ReadIfThere(const std::string& path) { return platform::IsFile(path) ? ReadBytes(path) : ""; }

// A picture's pixels, top-down, 0x00RRGGBB.
inline std::vector<uint32_t> Pixels(HBITMAP bitmap, int* width, int* height) {
    BITMAP info{};
    GetObjectW(bitmap, sizeof info, &info);
    *width = info.bmWidth;
    *height = info.bmHeight;
    BITMAPINFO request{};
    request.bmiHeader = {sizeof(BITMAPINFOHEADER), info.bmWidth, -info.bmHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<uint32_t> pixels(static_cast<size_t>(info.bmWidth) * info.bmHeight);
    GetDIBits(gdi::ClientDC(nullptr).Get(), bitmap, 0, info.bmHeight, pixels.data(), &request, DIB_RGB_COLORS);
    return pixels;
}

// Which pixels of a width x height area a region covers, one byte a pixel.
inline std::vector<char> RegionMask(HRGN region, int width, int height) {
    std::vector<char> mask(static_cast<size_t>(width) * height, 0);
    const DWORD size = GetRegionData(region, 0, nullptr);
    std::vector<char> data(size);
    auto* header = reinterpret_cast<RGNDATA*>(data.data());
    GetRegionData(region, size, header);
    const RECT* rects = reinterpret_cast<const RECT*>(header->Buffer);
    for (DWORD i = 0; i < header->rdh.nCount; ++i)
        for (int y = std::max(0L, rects[i].top); y < std::min<LONG>(height, rects[i].bottom); ++y)
            for (int x = std::max(0L, rects[i].left); x < std::min<LONG>(width, rects[i].right); ++x)
                mask[static_cast<size_t>(y) * width + x] = 1;
    return mask;
}

inline std::vector<char> NonKeyMask(const std::vector<uint32_t>& pixels) {
    std::vector<char> mask(pixels.size());
    for (size_t i = 0; i < pixels.size(); ++i) mask[i] = (pixels[i] & 0xFFFFFF) != (pixels[0] & 0xFFFFFF);
    return mask;
}

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(ReadTestServerEnv(&baseUrl, &served));
        OleInitialize(nullptr);
        before = platform::CurrentFolder();
        platform::SetCurrentFolder(client.Path());
        SetErrorReporter([this](const std::string& message) { errors.push_back(message); });
    }
    void TearDown() override {
        window.reset();
        SetErrorReporter(nullptr);
        platform::SetCurrentFolder(before);
        OleUninitialize();
    }
    TBranding Branding(const std::string& shortcut = "VandrelTest") const {
        return {baseUrl + "news.html",       baseUrl + "set/",
                shortcut,                    "http://site.test/",
                "http://forum.test/forum.php", "https://site.test/account/?action=registration",
                "http://designer.test/",       ""};
    }
    void Open(const std::string& shortcut = "VandrelTest") {
        window = std::make_unique<TFMain>(TInstallFolder::Current(), Branding(shortcut));
        window->Show();
        Pump(50);
    }
    // Posts a mouse message at a client point, moving the real pointer there first.
    void Mouse(UINT message, int x, int y, WPARAM keys = 0) {
        POINT screen{x, y};
        ClientToScreen(window->Handle(), &screen);
        SetCursorPos(screen.x, screen.y);
        PostMessageW(window->Handle(), message, keys, MAKELPARAM(x, y));
        Pump(30);
    }
    void Serve(const std::string& relative, const std::string& bytes) {
        platform::MakeFolders(ExtractFilePath(served + "\\" + relative));
        WriteBytes(served + "\\" + relative, bytes);
    }
    std::vector<std::string> ServerLog() const {
        std::vector<std::string> lines;
        const std::string log = ReadIfThere(getenv("VANDREL_TEST_SERVER_LOG"));
        for (size_t start = 0, end; (end = log.find('\n', start)) != std::string::npos; start = end + 1)
            lines.push_back(log.substr(start, end - start));
        return lines;
    }
    static std::string Desktop() {
        char folder[MAX_PATH] = {};
        SHGetSpecialFolderPathA(nullptr, folder, CSIDL_DESKTOPDIRECTORY, FALSE);
        return folder;
    }

    std::string baseUrl, served, before;
    TempDir client;
    std::vector<std::string> errors;
    std::unique_ptr<TFMain> window;
};


} // namespace testutil
