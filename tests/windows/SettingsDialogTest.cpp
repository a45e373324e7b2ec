// The game settings dialog as a real Win32 window: its controls, shape, fonts and colours, the options
// read at creation, "Применить" with and without the game's options file, "Отменить", a refused write,
// and the drag. The skin pictures are made here, so the tests do not depend on the artwork.
#include "platform/Platform.h"
#include "platform/win32/Win32Handles.h"
#include "settings/Frm2.h"
#include "support/IniFile.h"
#include "tests/common/TestUtil.h"
#include "widgets/GdiHandles.h"
#include "widgets/Shell.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

using namespace testutil;

namespace {

constexpr uint32_t kKey = 0x00FF18;     // the skin's key colour
constexpr uint32_t kSurface = 0x18202C; // the rest of the test skin

std::wstring Wide(const char* utf8) {
    std::wstring text(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, text.data(), static_cast<int>(text.size()));
    text.pop_back();
    return text;
}

// A 32-bit top-down picture whose pixels the test can set and read, as 0xRRGGBB.
class Picture {
public:
    Picture(int width, int height) : width_(width), bitmap_(gdi::CreateDib(width, height, &bits_)) {}
    uint32_t& At(int x, int y) { return bits_[y * width_ + x]; }
    // Gives the bitmap away (to the dialog, which keeps the ones it loads).
    gdi::Bitmap Take() { return std::move(bitmap_); }
    HBITMAP Get() const { return bitmap_.Get(); }

private:
    int width_;
    uint32_t* bits_ = nullptr;
    gdi::Bitmap bitmap_;
};

// Key colour in a 10-pixel band left and right, the top 5 rows, and one pixel at (15, 280).
gdi::Bitmap MakeSkin() {
    Picture skin(220, 300);
    for (int y = 0; y < 300; ++y)
        for (int x = 0; x < 220; ++x)
            skin.At(x, y) = (x < 10 || x >= 210 || y < 5) ? kKey : kSurface;
    skin.At(15, 280) = kKey;
    return skin.Take();
}

gdi::Bitmap MakeFlat(int width, int height, uint32_t colour) {
    Picture picture(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            picture.At(x, y) = colour;
    return picture.Take();
}

// The main window's stand-in.
HWND CreateMainWindow() {
    static const bool registered = [] {
        WNDCLASSW c{};
        c.lpfnWndProc = DefWindowProcW;
        c.hInstance = GetModuleHandleW(nullptr);
        c.lpszClassName = L"VandrelTestMain";
        return RegisterClassW(&c) != 0;
    }();
    EXPECT_TRUE(registered);
    HWND main = CreateWindowExW(0, L"VandrelTestMain", L"FormMain", WS_POPUP | WS_VISIBLE, 100, 100, 800, 599,
                                nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    EXPECT_NE(main, nullptr);
    return main;
}

class SettingsDialog : public ::testing::Test {
protected:
    SettingsDialog() : previousFolder(platform::CurrentFolder()) {
        platform::SetCurrentFolder(install.Path());
        platform::MakeFolders(install / "system");
        ownedMain = OwnedWindow(CreateMainWindow());
        main = ownedMain.Get();
        SetErrorReporter([this](const std::string& message) { errors.push_back(message); });
    }
    ~SettingsDialog() override {
        form.reset();
        SetErrorReporter(nullptr);
        platform::SetCurrentFolder(previousFolder);
    }

    void Create() {
        TForm1Services services;
        services.LoadBitmap = [](const wchar_t* name) -> gdi::Bitmap {
            const std::wstring n = name;
            if (n == TForm1::kSkinBitmap) return MakeSkin();
            if (n == TForm1::kApplyBitmaps[0]) return MakeFlat(67, 25, 0x405060);
            if (n == TForm1::kApplyBitmaps[2]) return MakeFlat(67, 25, 0x102030);
            return {}; // the rest falls back to flat colours
        };
        form = TForm1::Create(GetModuleHandleW(nullptr), main, TInstallFolder(install.Path()), slot, services);
        dialog = form->Handle();
    }
    HWND Item(int id) const { return GetDlgItem(dialog, id); }
    int Selection(int id) const { return static_cast<int>(SendMessageW(Item(id), CB_GETCURSEL, 0, 0)); }
    bool Checked(int id) const { return SendMessageW(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    void Select(int id, int index) { SendMessageW(Item(id), CB_SETCURSEL, static_cast<WPARAM>(index), 0); }
    void Check(int id, bool on) { SendMessageW(Item(id), BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0); }
    void Click(int id) { SendMessageW(Item(id), BM_CLICK, 0, 0); }
    RECT Place(HWND control) const {
        RECT r;
        GetWindowRect(control, &r);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
        return r;
    }
    std::string Options() const { return install / "system\\option.ini"; }
    std::string Settings() const { return installDir + "_settings.ini"; }

    TempDir install;
    std::string previousFolder;
    std::string installDir = install.Path() + "\\";
    std::string slot = "0";
    OwnedWindow ownedMain;
    HWND main = nullptr;
    std::unique_ptr<TForm1> form;
    HWND dialog = nullptr;
    std::vector<std::string> errors;
};

uint32_t Rgb(COLORREF c) {
    return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
}

} // namespace

TEST_F(SettingsDialog, HasEveryControlInPlaceWithItsTextsShapeAndTabOrder) {
    Create();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(errors.empty());
    EXPECT_FALSE(IsWindowVisible(dialog));
    EXPECT_EQ(GetWindowLongW(dialog, GWL_STYLE) & (WS_POPUP | WS_CAPTION | WS_THICKFRAME), WS_POPUP);
    RECT client;
    GetClientRect(dialog, &client);
    EXPECT_EQ(client.right, 220);
    EXPECT_EQ(client.bottom, 300);

    const struct {
        int id;
        RECT place;
        std::vector<const char*> texts; // a check box's or button's caption, or a combo box's items
    } controls[] = {
        {TForm1::kComboBox1,
         {100, 108, 193, 129},
         {"640x480", "800x600", "1024x768", "1280x960", "1280x1024"}},
        {TForm1::kComboBox2, {100, 132, 193, 153}, {"32 Bit", "16 Bit"}},
        {TForm1::kComboBox3, {100, 156, 193, 177}, {"60 hz", "75 hz", "85 hz", "100 hz"}},
        {TForm1::kCheckBox1, {68, 182, 201, 199}, {"Низкая детализация"}},
        {TForm1::kCheckBox2, {68, 200, 177, 217}, {"На ввесь экран"}},
        {TForm1::kComboBox4,
         {66, 221, 193, 242},
         {"Finders Keepers", "Random", "Random including spoil", "By turn", "By turn including spoil"}},
        {TForm1::kCheckBox3, {47, 54, 185, 69}, {"Создать бэкап перед"}},
        {TForm1::kSpeedButton1, {40, 256, 107, 281}, {"Применить"}},
        {TForm1::kSpeedButton2, {114, 256, 185, 281}, {"Отменить"}},
    };
    for (const auto& c : controls) {
        HWND control = Item(c.id);
        ASSERT_NE(control, nullptr) << c.id;
        const RECT r = Place(control);
        EXPECT_TRUE(EqualRect(&r, &c.place))
            << c.id << ": " << r.left << "," << r.top << "," << r.right << "," << r.bottom;
        wchar_t cls[32];
        GetClassNameW(control, cls, 32);
        const LONG style = GetWindowLongW(control, GWL_STYLE);
        if (std::wstring(cls) == L"ComboBox") {
            EXPECT_EQ(style & 3, CBS_DROPDOWNLIST) << c.id;
            ASSERT_EQ(SendMessageW(control, CB_GETCOUNT, 0, 0), static_cast<LRESULT>(c.texts.size())) << c.id;
            for (size_t i = 0; i < c.texts.size(); ++i) {
                wchar_t item[64] = {};
                SendMessageW(control, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item));
                EXPECT_EQ(std::wstring(item), Wide(c.texts[i])) << c.id << " item " << i;
            }
        } else {
            EXPECT_EQ(std::wstring(cls), L"Button") << c.id;
            wchar_t caption[64] = {};
            GetWindowTextW(control, caption, 64);
            EXPECT_EQ(std::wstring(caption), Wide(c.texts[0])) << c.id;
            EXPECT_EQ(style & BS_TYPEMASK, c.id >= TForm1::kSpeedButton1 ? BS_OWNERDRAW : BS_AUTOCHECKBOX)
                << c.id;
        }
        LOGFONTW font{};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof font, &font);
        EXPECT_EQ(std::wstring(font.lfFaceName), L"MS Sans Serif") << c.id;
        EXPECT_EQ(font.lfHeight, -11) << c.id;
        EXPECT_EQ(font.lfCharSet, RUSSIAN_CHARSET) << c.id;
    }

    // Tab goes round the seven controls in this order; the buttons take no tab stop.
    form->ShowOver(main);
    const int order[] = {TForm1::kComboBox1, TForm1::kComboBox2, TForm1::kComboBox3, TForm1::kCheckBox1,
                         TForm1::kCheckBox2, TForm1::kComboBox4, TForm1::kCheckBox3, TForm1::kComboBox1};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        EXPECT_EQ(GetDlgCtrlID(GetNextDlgTabItem(dialog, Item(order[i]), FALSE)), order[i + 1]) << i;

    // The shape: the skin without its key-coloured pixels.
    const gdi::Region shape(CreateRectRgn(0, 0, 0, 0));
    HRGN region = shape.Get();
    ASSERT_EQ(GetWindowRgn(dialog, region), COMPLEXREGION);
    EXPECT_TRUE(PtInRegion(region, 10, 5));
    EXPECT_TRUE(PtInRegion(region, 209, 299));
    EXPECT_TRUE(PtInRegion(region, 16, 280));
    EXPECT_FALSE(PtInRegion(region, 9, 100));
    EXPECT_FALSE(PtInRegion(region, 210, 100));
    EXPECT_FALSE(PtInRegion(region, 100, 4));
    EXPECT_FALSE(PtInRegion(region, 15, 280));
}

TEST_F(SettingsDialog, DrawsItsCaptionsAndColoursItsControls) {
    Create();
    const gdi::MemoryDC memory(gdi::ClientDC(nullptr).Get());
    HDC dc = memory.Get();

    // The surface: the skin, with the captions in #CACACA on it.
    Picture surface(220, 300);
    std::optional<gdi::Selected> selected(std::in_place, dc, surface.Get());
    SendMessageW(dialog, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    GdiFlush();
    EXPECT_EQ(surface.At(20, 20) & 0xFFFFFF, kSurface);
    EXPECT_EQ(surface.At(0, 0) & 0xFFFFFF, kKey);
    auto captionPixels = [&](int left, int top, int right, int bottom) {
        int count = 0;
        for (int y = top; y < bottom; ++y)
            for (int x = left; x < right; ++x)
                count += (surface.At(x, y) & 0xFFFFFF) == 0xCACACA;
        return count;
    };
    const int labels[][2] = {{43, 36},  {83, 67},  {65, 88},  {27, 108}, {28, 129},
                             {27, 139}, {27, 154}, {27, 166}, {32, 224}};
    for (const auto& at : labels)
        EXPECT_GT(captionPixels(at[0], at[1], at[0] + 30, at[1] + 13), 3) << at[0] << "," << at[1];
    EXPECT_EQ(captionPixels(10, 240, 30, 300), 0);
    selected.reset();

    // Combo boxes (their box and list) in #2F3C53, check boxes in #223553, their texts in #CACACA.
    const struct {
        UINT message;
        int id;
        uint32_t background;
    } colours[] = {{WM_CTLCOLOREDIT, TForm1::kComboBox1, 0x2F3C53},
                   {WM_CTLCOLORLISTBOX, TForm1::kComboBox4, 0x2F3C53},
                   {WM_CTLCOLORSTATIC, TForm1::kCheckBox1, 0x223553},
                   {WM_CTLCOLORSTATIC, TForm1::kCheckBox3, 0x223553}};
    for (const auto& c : colours) {
        SetTextColor(dc, RGB(0, 0, 0));
        auto brush = reinterpret_cast<HBRUSH>(SendMessageW(dialog, c.message, reinterpret_cast<WPARAM>(dc),
                                                           reinterpret_cast<LPARAM>(Item(c.id))));
        LOGBRUSH info{};
        ASSERT_TRUE(GetObjectW(brush, sizeof info, &info)) << c.id;
        EXPECT_EQ(Rgb(info.lbColor), c.background) << c.id;
        EXPECT_EQ(Rgb(GetTextColor(dc)), 0xCACACAu) << c.id;
    }

    // A button: its picture for the look, or a flat fill where it has none, with the caption in #E8E8E8.
    Picture button(67, 25);
    selected.emplace(dc, button.Get());
    auto draw = [&](int id, UINT state) {
        DRAWITEMSTRUCT item{ODT_BUTTON, static_cast<UINT>(id), 0, ODA_DRAWENTIRE, state, Item(id),
                            dc,         {0, 0, 67, 25},        0};
        SendMessageW(dialog, WM_DRAWITEM, static_cast<WPARAM>(id), reinterpret_cast<LPARAM>(&item));
        GdiFlush();
        int caption = 0;
        for (int y = 0; y < 25; ++y)
            for (int x = 0; x < 67; ++x)
                caption += (button.At(x, y) & 0xFFFFFF) == 0xE8E8E8;
        return std::make_pair(button.At(1, 1) & 0xFFFFFF, caption);
    };
    const auto normal = draw(TForm1::kSpeedButton1, 0);
    EXPECT_EQ(normal.first, 0x405060u);
    EXPECT_GT(normal.second, 3);
    EXPECT_EQ(draw(TForm1::kSpeedButton1, ODS_SELECTED).first, 0x102030u);
    const auto flat = draw(TForm1::kSpeedButton2, 0);
    EXPECT_NE(flat.first, 0x405060u);
    EXPECT_GT(flat.second, 3);
}

TEST_F(SettingsDialog, ShowsTheOptionsReadAtCreationAndAConversionError) {
    WriteBytes(Options(), "[Video]\r\nGamePlayViewportX=1000\r\nGamePlayViewportY=792\r\nColorBits=16\r\n"
                          "RefreshRate=0x55\r\nIsKeepMinFrameRate=FALSE\r\nStartupFullScreen=1\r\n[Game]\r\n"
                          "PartyLooting=4\r\n");
    slot = "1";
    Create();
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(Selection(TForm1::kComboBox1), 2);
    EXPECT_EQ(Selection(TForm1::kComboBox2), 1);
    EXPECT_EQ(Selection(TForm1::kComboBox3), 2);
    EXPECT_EQ(Selection(TForm1::kComboBox4), 4);
    EXPECT_FALSE(Checked(TForm1::kCheckBox1));
    EXPECT_TRUE(Checked(TForm1::kCheckBox2));
    EXPECT_TRUE(Checked(TForm1::kCheckBox3));
    form.reset();

    // The error is shown, the dialog is created with what was read before it, and it works.
    WriteBytes(Options(),
               "[Video]\r\nColorBits=32\r\nIsKeepMinFrameRate=maybe\r\n[Game]\r\nPartyLooting=2\r\n");
    Create();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(errors, std::vector<std::string>{"'maybe' is not a valid boolean value"});
    EXPECT_EQ(Selection(TForm1::kComboBox2), 0);
    EXPECT_EQ(Selection(TForm1::kComboBox4), -1);
    EXPECT_FALSE(Checked(TForm1::kCheckBox1));
    EXPECT_FALSE(Checked(TForm1::kCheckBox3));
    form->ShowOver(main);
    Click(TForm1::kSpeedButton1);
    EXPECT_FALSE(IsWindowVisible(dialog));
    EXPECT_EQ(TIniFile(Options()).ReadString("Video", "IsKeepMinFrameRate", "?"), "false");
    EXPECT_EQ(TIniFile(Options()).ReadString("Game", "PartyLooting", "?"), "2"); // no selection: kept
}

TEST_F(SettingsDialog, ApplyWritesOnlyWithAnOptionsFileAndCancelWritesNothing) {
    Create();
    form->ShowOver(main);
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_FALSE(IsWindowEnabled(main));
    RECT r;
    GetWindowRect(dialog, &r);
    EXPECT_EQ(r.left, 100 + (800 - 220) / 2);
    EXPECT_EQ(r.top, 100 + (599 - 300) / 2);

    // No options file: nothing is written anywhere, and the dialog closes.
    Select(TForm1::kComboBox1, 4);
    Check(TForm1::kCheckBox3, true);
    Click(TForm1::kSpeedButton1);
    EXPECT_FALSE(IsWindowVisible(dialog));
    EXPECT_TRUE(IsWindowEnabled(main));
    EXPECT_FALSE(platform::IsFile(Options()));
    EXPECT_FALSE(platform::IsFile(Settings()));
    EXPECT_EQ(slot, "0");

    // Cancel: nothing written, the changed controls stay changed.
    const std::string stored =
        "; client options\r\n[Video]\r\nGamePlayViewportX=800\r\nGamePlayViewportY=600\r\n";
    WriteBytes(Options(), stored);
    form->ShowOver(main);
    Select(TForm1::kComboBox2, 1);
    Select(TForm1::kComboBox4, 3);
    Click(TForm1::kSpeedButton2);
    EXPECT_FALSE(IsWindowVisible(dialog));
    EXPECT_TRUE(IsWindowEnabled(main));
    EXPECT_EQ(ReadBytes(Options()), stored);
    EXPECT_FALSE(platform::IsFile(Settings()));
    EXPECT_EQ(Selection(TForm1::kComboBox1), 4);
    EXPECT_EQ(Selection(TForm1::kComboBox2), 1);
    EXPECT_EQ(Selection(TForm1::kComboBox4), 3);
    EXPECT_TRUE(Checked(TForm1::kCheckBox3));

    // Apply with the file: the controls go to option.ini and the backup switch to the slot and _settings.ini.
    form->ShowOver(main);
    Click(TForm1::kSpeedButton1);
    EXPECT_FALSE(IsWindowVisible(dialog));
    EXPECT_TRUE(IsWindowEnabled(main));
    const TIniFile options(Options());
    EXPECT_EQ(options.ReadString("Video", "GamePlayViewportX", "?"), "1280");
    EXPECT_EQ(options.ReadString("Video", "GamePlayViewportY", "?"), "1024");
    EXPECT_EQ(options.ReadString("Video", "ColorBits", "?"), "16");
    EXPECT_EQ(options.ReadString("Video", "RefreshRate", "?"), "?"); // no selection: not written
    EXPECT_EQ(options.ReadString("Video", "IsKeepMinFrameRate", "?"), "true");
    EXPECT_EQ(options.ReadString("Video", "StartupFullScreen", "?"), "false");
    EXPECT_EQ(options.ReadString("Game", "PartyLooting", "?"), "3");
    EXPECT_EQ(ReadBytes(Options()).rfind("; client options\r\n[Video]\r\n", 0), 0u);
    EXPECT_EQ(slot, "1");
    EXPECT_EQ(TIniFile(Settings()).ReadString("main", "CreateBackup", "?"), "1");
    EXPECT_TRUE(errors.empty());

    // Closed by the system's means (Alt+F4): like cancel, the main window is usable again.
    form->ShowOver(main);
    SendMessageW(dialog, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindowVisible(dialog));
    EXPECT_TRUE(IsWindowEnabled(main));
}

// The options file held open by another program (the game client, say) refuses the write whoever runs
// the tests; a read-only attribute would not stop Wine running as root.
TEST_F(SettingsDialog, ARefusedWriteIsShownAndTheDialogStaysOpen) {
    WriteBytes(Options(), "[Video]\r\nColorBits=32\r\n");
    Create();
    form->ShowOver(main);
    Check(TForm1::kCheckBox3, true);
    {
        const platform::win32::Handle held(
            CreateFileA(Options().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held.Valid());
        Click(TForm1::kSpeedButton1);
    }
    EXPECT_EQ(errors, std::vector<std::string>{"Unable to write to " + GameOptionsPath(TInstallFolder(install.Path()))});
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_FALSE(IsWindowEnabled(main));
    EXPECT_EQ(ReadBytes(Options()), "[Video]\r\nColorBits=32\r\n");
    EXPECT_EQ(slot, "0");
    EXPECT_FALSE(platform::IsFile(Settings()));

    // Once the file is free again the same click stores everything and closes the dialog.
    Click(TForm1::kSpeedButton1);
    EXPECT_FALSE(IsWindowVisible(dialog));
    EXPECT_TRUE(IsWindowEnabled(main));
    EXPECT_EQ(slot, "1");
    EXPECT_EQ(TIniFile(Settings()).ReadString("main", "CreateBackup", "?"), "1");
}

TEST_F(SettingsDialog, DragsByItsOwnSurfaceWithAnyButton) {
    Create();
    form->ShowOver(main);
    RECT start, r;
    GetWindowRect(dialog, &start);
    auto at = [](int x, int y) { return MAKELPARAM(x, y); };

    SendMessageW(dialog, WM_RBUTTONDOWN, MK_RBUTTON, at(20, 290));
    SendMessageW(dialog, WM_MOUSEMOVE, MK_RBUTTON, at(50, 300));
    GetWindowRect(dialog, &r);
    EXPECT_EQ(r.left - start.left, 30);
    EXPECT_EQ(r.top - start.top, 10);
    SendMessageW(dialog, WM_RBUTTONUP, 0, at(20, 290));
    SendMessageW(dialog, WM_MOUSEMOVE, 0, at(60, 10));
    RECT after;
    GetWindowRect(dialog, &after);
    EXPECT_TRUE(EqualRect(&after, &r));

    SendMessageW(dialog, WM_LBUTTONDOWN, MK_LBUTTON, at(150, 20));
    SendMessageW(dialog, WM_MOUSEMOVE, MK_LBUTTON, at(140, 25));
    SendMessageW(dialog, WM_LBUTTONUP, 0, at(140, 25));
    GetWindowRect(dialog, &after);
    EXPECT_EQ(after.left - r.left, -10);
    EXPECT_EQ(after.top - r.top, 5);

    // A caption is a control of its own: a press on it moves nothing.
    GetWindowRect(dialog, &r);
    SendMessageW(dialog, WM_LBUTTONDOWN, MK_LBUTTON, at(50, 40));
    SendMessageW(dialog, WM_MOUSEMOVE, MK_LBUTTON, at(90, 80));
    SendMessageW(dialog, WM_LBUTTONUP, 0, at(90, 80));
    GetWindowRect(dialog, &after);
    EXPECT_TRUE(EqualRect(&after, &r));
}
