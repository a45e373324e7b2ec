// The launcher's main window for real under Wine: its components and shape, the image buttons driven
// by posted mouse messages, the drag, gauge painting read back from a bitmap, the revision store, the
// desktop shortcut, play, the links, the news browser and an update run started from the window.
#include "app/LauncherApp.h"
#include "app/UnitMain.h"
#include "update/StatusTexts.h"
#include "platform/Errors.h"
#include "platform/Platform.h"
#include "platform/win32/ScopedOwner.h"
#include "support/Misc.h"
#include "tests/common/TestUtil.h"
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

using namespace testutil;

namespace {

void Pump(int milliseconds) {
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

bool PumpUntil(const std::function<bool()>& done, int milliseconds) {
    for (int waited = 0; waited < milliseconds; waited += 20) {
        if (done()) return true;
        Pump(20);
    }
    return done();
}

std::string ReadIfThere(const std::string& path) { return platform::IsFile(path) ? ReadBytes(path) : ""; }

// A picture's pixels, top-down, 0x00RRGGBB.
std::vector<uint32_t> Pixels(HBITMAP bitmap, int* width, int* height) {
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
std::vector<char> RegionMask(HRGN region, int width, int height) {
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

std::vector<char> NonKeyMask(const std::vector<uint32_t>& pixels) {
    std::vector<char> mask(pixels.size());
    for (size_t i = 0; i < pixels.size(); ++i) mask[i] = (pixels[i] & 0xFFFFFF) != (pixels[0] & 0xFFFFFF);
    return mask;
}

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        const char* url = getenv("VANDREL_TEST_SERVER");
        const char* root = getenv("VANDREL_TEST_SERVER_ROOT");
        ASSERT_TRUE(url && root) << "run through tests/windows/run-with-server";
        baseUrl = url;
        served = root;
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

} // namespace

TEST_F(MainWindow, HasItsComponentsInPlaceAndTheShapeOfItsBackground) {
    Open();
    HWND hwnd = window->Handle();
    wchar_t caption[32] = {};
    GetWindowTextW(hwnd, caption, 32);
    EXPECT_STREQ(caption, L"FormMain");
    RECT client{}, place{};
    GetClientRect(hwnd, &client);
    GetWindowRect(hwnd, &place);
    EXPECT_EQ(client.right, 800);
    EXPECT_EQ(client.bottom, 599);
    EXPECT_EQ(place.right - place.left, 800); // no border
    EXPECT_EQ(GetWindowLongW(hwnd, GWL_STYLE) & (WS_CAPTION | WS_THICKFRAME), 0);
    EXPECT_EQ(window->Label3.Caption(), "... Загрузка ...");
    EXPECT_FALSE(window->Gauge1Control.Visible());
    EXPECT_FALSE(window->Gauge2Control.Visible());
    EXPECT_FALSE(window->Shape1.Visible());
    EXPECT_FALSE(window->Label4.Visible());
    EXPECT_FALSE(GetWindowLongW(window->Panel1, GWL_STYLE) & WS_VISIBLE);
    RECT panel{};
    GetWindowRect(window->Panel1, &panel);
    MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&panel), 2);
    EXPECT_EQ(panel.left, 7);
    EXPECT_EQ(panel.top, 37);
    EXPECT_EQ(panel.right, 793);
    EXPECT_EQ(panel.bottom, 416);
    const RECT expected[] = {{657, 440, 746, 566}, {288, 532, 394, 566}, {407, 532, 513, 566}, {769, 16, 785, 32},
                             {302, 436, 348, 451}, {350, 436, 406, 451}, {406, 436, 497, 451}};
    TImgBtnControl* buttons[] = {&window->ImgBtn1, &window->ImgBtn2, &window->ImgBtn3, &window->ImgBtn4,
                                 &window->ImgBtn5, &window->ImgBtn6, &window->ImgBtn7};
    for (int i = 0; i < 7; ++i) {
        const RECT r = buttons[i]->BoundsRect();
        EXPECT_TRUE(EqualRect(&r, &expected[i])) << "ImgBtn" << i + 1;
        EXPECT_EQ(buttons[i]->Button.Shown(), TImgBtn::TShown::Pic);
        EXPECT_TRUE(buttons[i]->Pic && buttons[i]->PicDown && buttons[i]->PicUp);
    }
    // The settings link covers none of the listed components.
    const RECT settings = window->ImgBtn8.BoundsRect();
    for (const RECT& r : expected) {
        RECT overlap{};
        EXPECT_FALSE(IntersectRect(&overlap, &r, &settings));
    }

    int width = 0, height = 0;
    const std::vector<uint32_t> picture = Pixels(window->Image1.Picture.Get(), &width, &height);
    ASSERT_EQ(width, 800);
    ASSERT_EQ(height, 599);
    const gdi::Region shape(CreateRectRgn(0, 0, 0, 0));
    ASSERT_NE(GetWindowRgn(hwnd, shape.Get()), ERROR);
    EXPECT_EQ(RegionMask(shape.Get(), width, height), NonKeyMask(picture));
    // Every component lies inside the shape.
    for (TImgBtnControl* button : buttons) {
        const RECT r = button->BoundsRect();
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x) ASSERT_NE(picture[y * 800 + x] & 0xFFFFFF, picture[0] & 0xFFFFFF);
    }
}

TEST(SkinRegionWin32, EqualsOneSubtractionPerKeyPixel) {
    // A white key with isolated white pixels inside, and a picture keyed only at (0, 0).
    for (int kind = 0; kind < 2; ++kind) {
        const int w = 61, h = 47;
        uint32_t* bits = nullptr;
        gdi::Bitmap picture = gdi::CreateDib(w, h, &bits);
        for (int i = 0; i < w * h; ++i) bits[i] = kind == 0 ? 0xFFFFFF : 0x336699;
        bits[0] = kind == 0 ? 0xFFFFFF : 0x00FF00;
        if (kind == 0) {
            for (int y = 5; y < 40; ++y)
                for (int x = 8 + y % 3; x < 55 - y % 5; ++x) bits[y * w + x] = 0x804020 + (x % 7);
            bits[20 * w + 30] = 0xFFFFFF;
            bits[21 * w + 31] = 0xFFFFFF;
        }
        GdiFlush();
        // The region is read from the DIB section itself, and from a device bitmap of the same picture.
        const gdi::WindowDC screen = gdi::ClientDC(nullptr);
        gdi::Bitmap device(CreateCompatibleBitmap(screen.Get(), w, h));
        {
            gdi::MemoryDC from(screen.Get(), picture.Get()), to(screen.Get(), device.Get());
            BitBlt(to.Get(), 0, 0, w, h, from.Get(), 0, 0, SRCCOPY);
        }
        gdi::Region ours = CreateSkinRegion(picture.Get());
        gdi::Region fromDevice = CreateSkinRegion(device.Get());
        gdi::Region reference(CreateRectRgn(0, 0, w, h));
        for (int x = 0; x < w; ++x)
            for (int y = 0; y < h; ++y)
                if ((bits[y * w + x] & 0xFFFFFF) == (bits[0] & 0xFFFFFF)) {
                    gdi::Region pixel(CreateRectRgn(x, y, x + 1, y + 1));
                    CombineRgn(reference.Get(), reference.Get(), pixel.Get(), RGN_DIFF);
                }
        ASSERT_TRUE(ours);
        EXPECT_TRUE(EqualRgn(ours.Get(), reference.Get())) << "picture " << kind;
        ASSERT_TRUE(fromDevice);
        EXPECT_TRUE(EqualRgn(fromDevice.Get(), reference.Get())) << "device picture " << kind;
        const std::vector<uint32_t> pixels(bits, bits + w * h);
        EXPECT_EQ(RegionMask(ours.Get(), w, h), NonKeyMask(pixels));
    }
}

TEST_F(MainWindow, ImageButtonsFollowPostedMouseMessagesAndTheBackgroundDrags) {
    Open();
    TImgBtn& site = window->ImgBtn5.Button;
    std::vector<std::string> clicks;
    site.OnClick = [&] { clicks.push_back(site.Shown() == TImgBtn::TShown::PicDown ? "PicDown" : "other"); };
    Mouse(WM_MOUSEMOVE, 320, 443);
    EXPECT_EQ(site.Shown(), TImgBtn::TShown::PicUp);
    Mouse(WM_LBUTTONDOWN, 320, 443, MK_LBUTTON);
    EXPECT_EQ(site.Shown(), TImgBtn::TShown::PicDown);
    Mouse(WM_MOUSEMOVE, 120, 500, MK_LBUTTON); // off the button, onto the background
    EXPECT_EQ(site.Shown(), TImgBtn::TShown::Pic);
    EXPECT_FALSE(window->Dragging); // the press belongs to the button
    Mouse(WM_MOUSEMOVE, 321, 444, MK_LBUTTON);
    EXPECT_EQ(site.Shown(), TImgBtn::TShown::PicDown);
    Mouse(WM_LBUTTONUP, 321, 444);
    EXPECT_EQ(clicks, std::vector<std::string>{"PicDown"});
    EXPECT_EQ(site.Shown(), TImgBtn::TShown::PicUp);
    // Pressed, released outside: no click.
    Mouse(WM_LBUTTONDOWN, 321, 444, MK_LBUTTON);
    Mouse(WM_MOUSEMOVE, 120, 500, MK_LBUTTON);
    Mouse(WM_LBUTTONUP, 120, 500);
    EXPECT_EQ(clicks.size(), 1u);
    EXPECT_EQ(site.Shown(), TImgBtn::TShown::Pic);

    // A disabled button takes no press: it reaches the window's surface, which starts a drag.
    int updates = 0;
    window->ImgBtn2.Button.OnClick = [&] { ++updates; };
    window->ImgBtn2.SetEnabled(false);
    Mouse(WM_LBUTTONDOWN, 300, 540, MK_LBUTTON);
    EXPECT_TRUE(window->Dragging);
    Mouse(WM_LBUTTONUP, 300, 540);
    EXPECT_EQ(updates, 0);
    EXPECT_FALSE(window->Dragging);

    // Disabled while held (a run's first callback disables play): the release is no click, and the
    // button lets go of its pressed look. Enabled again, it clicks.
    int plays = 0;
    window->ImgBtn1.Button.OnClick = [&] { ++plays; };
    Mouse(WM_MOUSEMOVE, 700, 500);
    Mouse(WM_LBUTTONDOWN, 700, 500, MK_LBUTTON);
    window->SetRunButtonsEnabled(false);
    Mouse(WM_LBUTTONUP, 700, 500);
    EXPECT_EQ(plays, 0);
    EXPECT_EQ(window->ImgBtn1.Button.Shown(), TImgBtn::TShown::PicUp);
    window->SetRunButtonsEnabled(true);
    Mouse(WM_LBUTTONDOWN, 700, 500, MK_LBUTTON);
    Mouse(WM_LBUTTONUP, 700, 500);
    EXPECT_EQ(plays, 1);

    // A right-button press on the background drags the window with the pointer.
    RECT start{}, moved{};
    GetWindowRect(window->Handle(), &start);
    Mouse(WM_RBUTTONDOWN, 100, 500, MK_RBUTTON);
    PostMessageW(window->Handle(), WM_MOUSEMOVE, MK_RBUTTON, MAKELPARAM(130, 480));
    Pump(30);
    PostMessageW(window->Handle(), WM_RBUTTONUP, 0, MAKELPARAM(130, 480));
    Pump(30);
    GetWindowRect(window->Handle(), &moved);
    EXPECT_EQ(moved.left - start.left, 30);
    EXPECT_EQ(moved.top - start.top, -20);
    EXPECT_FALSE(window->Dragging);
}

TEST(GaugePaintWin32, DrawsBarsBorderAndTheInvertedText) {
    const auto paint = [](TGauge& gauge, std::vector<uint32_t>* out) {
        uint32_t* bits = nullptr;
        gdi::Bitmap target = gdi::CreateDib(gauge.Width(), gauge.Height(), &bits);
        {
            gdi::MemoryDC dc(gdi::ClientDC(nullptr).Get(), target.Get());
            PaintGauge(gauge, dc.Get());
        }
        GdiFlush();
        out->assign(bits, bits + gauge.Width() * gauge.Height());
    };
    TGauge bar;
    bar.SetWidth(430);
    bar.SetHeight(5);
    bar.SetBorderStyle(bsNone);
    bar.SetShowText(false);
    bar.SetBackColor(RgbColor(160, 160, 164));
    bar.SetForeColor(RgbColor(255, 0, 0));
    bar.SetProgress(50);
    std::vector<uint32_t> pixels;
    paint(bar, &pixels);
    EXPECT_EQ(pixels[214], 0xFF0000u);
    EXPECT_EQ(pixels[215], 0xA0A0A4u);
    EXPECT_EQ(pixels[4 * 430 + 429], 0xA0A0A4u);

    TGauge small; // without border a 19-pixel gauge has W = 20
    small.SetWidth(19);
    small.SetHeight(4);
    small.SetBorderStyle(bsNone);
    small.SetShowText(false);
    small.SetForeColor(RgbColor(255, 0, 0));
    small.SetProgress(5);
    paint(small, &pixels);
    for (uint32_t p : pixels) ASSERT_EQ(p, 0xFFFFFFu); // 5 percent of 20 pixels fills nothing

    TGauge framed; // single border, text on, white back, black fore: the defaults
    framed.SetWidth(100);
    framed.SetHeight(20);
    framed.SetForeColor(RgbColor(0, 0, 255));
    framed.SetProgress(50);
    framed.SetShowText(false);
    std::vector<uint32_t> plain;
    paint(framed, &plain);
    for (int x = 0; x < 100; ++x) ASSERT_TRUE(plain[x] == 0 && plain[19 * 100 + x] == 0) << x;
    for (int y = 0; y < 20; ++y) ASSERT_TRUE(plain[y * 100] == 0 && plain[y * 100 + 99] == 0) << y;
    EXPECT_EQ(plain[10 * 100 + 10], 0x0000FFu);
    EXPECT_EQ(plain[10 * 100 + 90], 0xFFFFFFu);
    framed.SetShowText(true);
    std::vector<uint32_t> text;
    paint(framed, &text);
    // The text is XOR-ed on: each pixel differs from the plain bar by a grey level of the white text
    // (its smoothed edges), and its solid strokes invert the colour beneath completely.
    int inverted = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const uint32_t mask = (text[i] ^ plain[i]) & 0xFFFFFF;
        ASSERT_TRUE((mask & 0xFF) == ((mask >> 8) & 0xFF) && (mask & 0xFF) == (mask >> 16)) << i;
        inverted += mask == 0xFFFFFF;
    }
    EXPECT_GT(inverted, 10); // "50%" was drawn over both the filled and the unfilled part
}

TEST_F(MainWindow, StoresTheRevisionBesideTheBackupSettingAndWritesTheShortcut) {
    WriteBytes(client / "_settings.ini", "[main]\r\nCreateBackup=1\r\n");
    const std::string link = Desktop() + "\\VandrelTest.lnk";
    platform::RemoveFile(link);
    Open();
    window->UpdateRevision("7");
    const std::string settings = ReadBytes(client / "_settings.ini");
    EXPECT_NE(settings.find("CreateBackup=1"), std::string::npos);
    EXPECT_NE(settings.find("AtRevision=7"), std::string::npos);
    EXPECT_EQ((*window->Config)[SlotRevision], "0");

    const auto readLink = [&](std::string* target, std::string* folder, std::string* description) {
        platform::win32::ComPtr<IShellLinkA> shell;
        platform::win32::ComPtr<IPersistFile> file;
        ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                               reinterpret_cast<void**>(shell.Put()))));
        ASSERT_TRUE(SUCCEEDED(shell->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.Put()))));
        std::wstring wide(link.begin(), link.end());
        ASSERT_TRUE(SUCCEEDED(file->Load(wide.c_str(), STGM_READ)));
        char text[MAX_PATH] = {};
        shell->GetPath(text, MAX_PATH, nullptr, 0);
        *target = text;
        shell->GetWorkingDirectory(text, MAX_PATH);
        *folder = text;
        shell->GetDescription(text, MAX_PATH);
        *description = text;
    };
    std::string target, folder, description;
    readLink(&target, &folder, &description);
    EXPECT_EQ(target, platform::OwnExecutablePath());
    EXPECT_EQ(folder, client.Path() + "\\");
    EXPECT_EQ(description, "Play Tessel");

    // Rewritten at every start; an empty name writes none.
    WriteBytes(link, "not a link");
    window.reset();
    Open();
    readLink(&target, &folder, &description);
    EXPECT_EQ(description, "Play Tessel");
    platform::RemoveFile(link);
    window.reset();
    Open("");
    EXPECT_FALSE(platform::IsFile(link));
    EXPECT_FALSE(platform::IsFile(Desktop() + "\\.lnk"));

    // A run's last call arriving after the window's close: the configuration list is gone, the revision
    // is still stored.
    window->FormClose();
    ASSERT_FALSE(window->Config);
    window->UpdateRevision("12");
    EXPECT_NE(ReadBytes(client / "_settings.ini").find("AtRevision=12"), std::string::npos);
    EXPECT_TRUE(errors.empty());
}

TEST_F(MainWindow, RunsOnlyTheSynchronisedCallsOfItsOwnWorker) {
    Open();
    // What any program can send: the window's private message with a pointer of its choosing, laid
    // out as the launcher's own pending call once was.
    bool planted = false;
    const std::function<void()> call = [&] { planted = true; };
    struct {
        const std::function<void()>* fn;
        std::exception_ptr error;
    } forged{&call, nullptr};
    for (WPARAM guess = 0; guess < 4; ++guess)
        SendMessageW(window->Handle(), WM_APP + 1, guess, reinterpret_cast<LPARAM>(&forged));
    EXPECT_FALSE(planted);

    // The worker's own calls run on the window's thread, and their exceptions come back to it.
    DWORD ranOn = 0;
    std::string raised;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        window->Synchronize([&] { ranOn = GetCurrentThreadId(); });
        try {
            window->Synchronize([] { throw Exception("refused"); });
        } catch (const Exception& error) {
            raised = error.what();
        }
        done = true;
    });
    EXPECT_TRUE(PumpUntil([&] { return done.load(); }, 10000));
    worker.join();
    EXPECT_EQ(ranOn, GetCurrentThreadId());
    EXPECT_EQ(raised, "refused");
}

TEST_F(MainWindow, StatusTextsShowFileNamesInTheAnsiCodePage) {
    Open();
    // The pixels a label draws with a caption, next to the pixels of Label3.
    const auto pixels = [](TLabel& label) {
        uint32_t* bits = nullptr;
        gdi::Bitmap target = gdi::CreateDib(label.Width, label.Height, &bits);
        {
            gdi::MemoryDC dc(gdi::ClientDC(nullptr).Get(), target.Get());
            label.Paint(dc.Get());
        }
        GdiFlush();
        return std::vector<uint32_t>(bits, bits + label.Width * label.Height);
    };
    TLabel shown(0, 0, window->Label3.Width, window->Label3.Height, true);
    shown.Font = window->Label3.Font;
    shown.FontColor = window->Label3.FontColor;
    shown.Alignment = window->Label3.Alignment;
    const auto utf8 = [](const std::wstring& wide) {
        std::string text(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr,
                                                                 nullptr)),
                         '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, text.data(), static_cast<int>(text.size()), nullptr,
                            nullptr);
        text.pop_back();
        return text;
    };
    // A name from the update list whose bytes happen to be valid UTF-8 ("\xC3\xA9" is "é" there).
    const std::string name = "data\\\xC3\xA9t\xC3\xA9.pak";
    wchar_t ansi[32] = {};
    MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, ansi, 32);
    for (const char* prefix : {status::kDownloading, status::kExtracting}) {
        window->ShowStatus(prefix + name);
        shown.SetCaption(prefix + utf8(ansi));
        EXPECT_TRUE(pixels(window->Label3) == pixels(shown)) << prefix;
    }
    window->ShowStatus(std::string(status::kChecking) + " " + name);
    shown.SetCaption(std::string(status::kChecking) + " " + utf8(ansi));
    EXPECT_TRUE(pixels(window->Label3) == pixels(shown));
    // The launcher's own texts, also the one that begins as a file's status does.
    for (const char* text : {status::kLoadingList, status::kAllUpdated, status::kHostsChanged}) {
        window->ShowStatus(text);
        shown.SetCaption(text);
        EXPECT_TRUE(pixels(window->Label3) == pixels(shown)) << text;
    }
}

TEST_F(MainWindow, ClosingFromTheTaskbarGoesThroughFormClose) {
    TLauncherApp app(TInstallFolder::Current(), Branding());
    app.Show();
    Pump(50);
    ASSERT_TRUE(app.Form1);
    // The taskbar button's Close: the system's close command to the window that carries the button.
    PostMessageW(app.Application(), WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(PumpUntil([&] { return !IsWindow(app.FMain->Handle()); }, 2000));
    EXPECT_FALSE(app.FMain->Config); // released by FormClose, as the close button does
    EXPECT_FALSE(app.Form1);         // and the dialog before it
    EXPECT_TRUE(IsWindow(app.Application()));
    MSG quit;
    PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE); // the closed main window ended the loop
}

TEST_F(MainWindow, ADialogThatCannotBeMadeIsReportedAndTheLauncherRunsWithoutIt) {
    TForm1Services failing;
    failing.LoadBitmap = [](const wchar_t*) -> gdi::Bitmap { throw EWindowError("Cannot create the window"); };
    TLauncherApp app(TInstallFolder::Current(), Branding(), failing);
    app.Show();
    EXPECT_EQ(errors, std::vector<std::string>{"Cannot create the window"});
    EXPECT_FALSE(app.Form1);
    EXPECT_TRUE(IsWindowVisible(app.FMain->Handle()));
    app.FMain->ImgBtn8Click(); // the settings link opens nothing
    EXPECT_TRUE(IsWindowEnabled(app.FMain->Handle()));
}

TEST_F(MainWindow, PlayStartsTheGameInItsFolderAndClosesOrShowsTheError) {
    Open();
    window->ImgBtn1.Button.OnClick();
    Pump(50);
    ASSERT_EQ(errors, std::vector<std::string>{"I/O error 3"}); // no game folder
    EXPECT_TRUE(IsWindow(window->Handle()));
    EXPECT_EQ(platform::CurrentFolder(), client.Path());

    const char* marker = getenv("VANDREL_MARKER");
    ASSERT_TRUE(marker);
    platform::MakeFolders(client / "system");
    ASSERT_TRUE(platform::CopyFileReplacing(marker, client / "system\\zr.exe"));
    window->ImgBtn1.Button.OnClick();
    EXPECT_TRUE(PumpUntil([&] { return !IsWindow(window->Handle()); }, 2000));
    EXPECT_TRUE(PumpUntil([&] { return platform::IsFile(client / "system\\started-here.txt"); }, 10000));
    EXPECT_EQ(ReadBytes(client / "system\\started-here.txt"), client / "system");
    EXPECT_FALSE(window->Config); // released when the window closed
    platform::SetCurrentFolder(client.Path());
    MSG quit;
    PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE); // the closed main window ended the loop
}

TEST_F(MainWindow, LinksReachTheShellWithTheirUrls) {
    const char* browser = getenv("VANDREL_TEST_BROWSER");
    ASSERT_TRUE(browser);
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\WineBrowser", 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, "Browsers", 0, REG_SZ, reinterpret_cast<const BYTE*>(browser),
                   static_cast<DWORD>(strlen(browser) + 1));
    RegCloseKey(key);
    Open();
    window->ImgBtn5.Button.OnClick();
    window->ImgBtn6.Button.OnClick();
    window->ImgBtn7.Button.OnClick();
    window->Image2.OnClick();
    const std::string links = getenv("VANDREL_TEST_LINKS");
    const auto opened = [&] {
        std::set<std::string> lines;
        const std::string text = ReadIfThere(links);
        for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            lines.insert(text.substr(start, end - start));
        return lines;
    };
    EXPECT_TRUE(PumpUntil([&] { return opened().size() >= 4; }, 20000));
    EXPECT_EQ(opened(), (std::set<std::string>{"http://site.test/", "http://forum.test/forum.php",
                                               "https://site.test/account/?action=registration",
                                               "http://designer.test/"}));
}

TEST_F(MainWindow, NewsPageLoadsAfterTheFirstTickAndThePanelShowsOnCompletion) {
    Serve("news.html", "<html><body>News</body></html>");
    const auto newsRequests = [&] {
        int count = 0;
        for (const std::string& path : ServerLog()) count += path == "news.html";
        return count;
    };
    const int earlier = newsRequests();
    Open();
    Pump(400);
    EXPECT_EQ(newsRequests(), earlier); // nothing before Timer1's first tick
    EXPECT_EQ(window->Label3.Caption(), "... Загрузка ...");
    EXPECT_TRUE(PumpUntil([&] { return newsRequests() > earlier; }, 10000));
    EXPECT_EQ(window->Label3.Caption(), "");
    EXPECT_FALSE(GetWindowLongW(window->Panel1, GWL_STYLE) & WS_VISIBLE);
    // Wine has no page engine here, so completion is delivered to the event sink as the control would.
    DISPPARAMS none{};
    window->WebBrowser1.EventSink()->Invoke(DISPID_NAVIGATECOMPLETE2, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr,
                                            nullptr, nullptr);
    EXPECT_TRUE(GetWindowLongW(window->Panel1, GWL_STYLE) & WS_VISIBLE);
    EXPECT_TRUE(errors.empty()); // the control took the navigation
}

TEST_F(MainWindow, UpdateButtonRunsOneUpdateAndTheWindowFollowsIt) {
    const std::string game = RandomBytes(300000, 8);
    const std::string packed = Compress(game);
    Serve("set\\system\\zr.exe.bz2", packed);
    Serve("set\\files.lst.bz2",
          Compress("[settings]\r\nRev|9\r\nModHosts|0\r\n[/settings]\r\n[files_critical]\r\nsystem\\zr.exe|" +
                   Md5Hex(game) + "|" + std::to_string(packed.size()) + "\r\n[/files_critical]\r\n"));
    Open();
    const auto listRequests = [&] {
        int count = 0;
        for (const std::string& path : ServerLog()) count += path == "set/files.lst.bz2";
        return count;
    };
    const int earlier = listRequests();
    window->ImgBtn3.Button.OnClick(); // cancel with no run does nothing
    window->ImgBtn2.Button.OnClick();
    window->ImgBtn2.Button.OnClick(); // a second press before the run disabled the button
    EXPECT_TRUE(window->Shape1.Visible());
    EXPECT_TRUE(PumpUntil([&] { return !window->RunInProgress(); }, 30000));
    Pump(50);
    EXPECT_EQ(listRequests() - earlier, 1);
    EXPECT_EQ(window->Label3.Caption(), "Все файлы обновлены");
    // The install pass ends by setting the overall position back to 0: the bar stays, empty.
    EXPECT_TRUE(window->Shape1.Visible());
    EXPECT_EQ(window->Shape1.Width, 0);
    EXPECT_TRUE(window->ImgBtn1.Enabled() && window->ImgBtn2.Enabled());
    EXPECT_EQ(Md5OfFile(client / "system\\zr.exe"), Md5Hex(game));
    EXPECT_NE(ReadBytes(client / "_settings.ini").find("AtRevision=9"), std::string::npos);
    EXPECT_TRUE(errors.empty());

    // Built with a public key, the launcher asks for the list's signature, which this set lacks.
    TBranding keyed = Branding();
    keyed.ListPublicKey = std::string(64, 'a');
    window.reset();
    window = std::make_unique<TFMain>(TInstallFolder::Current(), keyed);
    window->Show();
    window->ImgBtn2.Button.OnClick();
    EXPECT_TRUE(PumpUntil([&] { return !window->RunInProgress(); }, 30000));
    Pump(50);
    EXPECT_EQ(window->Label3.Caption(), "Обновление неудалось");
    const std::vector<std::string> log = ServerLog();
    EXPECT_EQ(log.back(), "set/files.lst.bz2.sig");
}

TEST(LauncherExe, CarriesItsVersionBlockManifestAndIcon) {
    const char* built = getenv("VANDREL_LAUNCHER");
    ASSERT_TRUE(built);
    std::string exe = std::string("Z:") + built;
    for (char& c : exe)
        if (c == '/') c = '\\';
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(exe.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(exe.c_str(), 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(0, 2));
    EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(800, 2));
    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                               &length));
    EXPECT_EQ(translation[0], 0x0419); // Russian
    EXPECT_EQ(translation[1], 1251);
    const auto text = [&](const char* name) {
        char* value = nullptr;
        const std::string key = std::string("\\StringFileInfo\\041904E3\\") + name;
        return VerQueryValueA(block.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) ? std::string(value)
                                                                                                  : std::string();
    };
    EXPECT_EQ(text("FileDescription"), "DoVevevaz");
    EXPECT_EQ(text("ProductName"), "DoVevevaz");
    EXPECT_EQ(text("InternalName"), "Ri DureRivudid");
    EXPECT_EQ(text("FileVersion"), "2.0.2.800");
    EXPECT_EQ(text("ProductVersion"), "2.0.0.0");

    HMODULE image = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(image);
    HRSRC manifest = FindResourceA(image, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_TRUE(manifest);
    const std::string xml(static_cast<const char*>(LockResource(LoadResource(image, manifest))),
                          SizeofResource(image, manifest));
    EXPECT_NE(xml.find("requestedExecutionLevel level=\"requireAdministrator\""), std::string::npos);
    EXPECT_NE(xml.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_TRUE(FindResourceA(image, "MAINICON", MAKEINTRESOURCEA(14))); // RT_GROUP_ICON
    FreeLibrary(image);
}
