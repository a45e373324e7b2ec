#include "settings/GameOptions.h"
#include "platform/Platform.h"
#include "platform/Errors.h"
#include "support/IniFile.h"
#include "support/Misc.h"
#include "tests/common/TestUtil.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <tuple>

using namespace testutil;

// Global, so that the test macros find them beside TGameOptionControls.
static bool operator==(const TGameOptionControls& a, const TGameOptionControls& b) {
    return std::tie(a.ComboBox1, a.ComboBox2, a.ComboBox3, a.ComboBox4, a.CheckBox1, a.CheckBox2,
                    a.CheckBox3) == std::tie(b.ComboBox1, b.ComboBox2, b.ComboBox3, b.ComboBox4, b.CheckBox1,
                                             b.CheckBox2, b.CheckBox3);
}

static std::ostream& operator<<(std::ostream& out, const TGameOptionControls& c) {
    return out << "{" << c.ComboBox1 << "," << c.ComboBox2 << "," << c.ComboBox3 << "," << c.ComboBox4 << ","
               << c.CheckBox1 << c.CheckBox2 << c.CheckBox3 << "}";
}

namespace {

TGameOptionControls Controls(int c1, int c2, int c3, int c4, bool k1, bool k2, bool k3) {
    TGameOptionControls c;
    c.ComboBox1 = c1, c.ComboBox2 = c2, c.ComboBox3 = c3, c.ComboBox4 = c4;
    c.CheckBox1 = k1, c.CheckBox2 = k2, c.CheckBox3 = k3;
    return c;
}

// An install folder with its system\option.ini.
class GameOptions : public ::testing::Test {
protected:
    GameOptions() { platform::MakeFolders(dir / "system"); }

    std::string Options() const { return dir / "system\\option.ini"; }
    std::string Settings() const { return dir / "_settings.ini"; }
    void WriteOptions(const std::string& text) { WriteBytes(Options(), text); }
    // The controls after loading the given option.ini text into freshly created controls.
    TGameOptionControls Load(const std::string& text, const std::string& slot = "0") {
        WriteOptions(text);
        TGameOptionControls c;
        LoadGameOptions(c, Options(), slot);
        return c;
    }
    void Save(const TGameOptionControls& c) { SaveGameOptions(c, Options(), slot, Settings()); }

    TempDir dir;
    std::string slot = "0";
};

} // namespace

TEST_F(GameOptions, LoadsEveryKeyOfTheTable) {
    EXPECT_EQ(Load("[Video]\r\nGamePlayViewportX=1280\r\nGamePlayViewportY=1024\r\nColorBits="
                   "16\r\nRefreshRate=85\r\n"
                   "IsKeepMinFrameRate=false\r\nStartupFullScreen=true\r\n[Game]\r\nPartyLooting=3\r\n",
                   "1"),
              Controls(4, 1, 2, 3, false, true, true));

    const struct {
        int x, y, item;
    } resolutions[] = {{640, 480, 0},  {800, 600, 1}, {1024, 768, 2}, {1280, 960, 3},  {1280, 1024, 4},
                       {1000, 792, 2}, {1792, 0, 2},  {0, 1120, 0},   {1366, 768, -1}, {1024, 767, -1}};
    for (const auto& r : resolutions)
        EXPECT_EQ(Load("[Video]\r\nGamePlayViewportX=" + std::to_string(r.x) +
                       "\r\nGamePlayViewportY=" + std::to_string(r.y) + "\r\n")
                      .ComboBox1,
                  r.item)
            << r.x << "+" << r.y;
    const int colours[][2] = {{32, 0}, {16, 1}, {24, -1}, {0, -1}};
    for (const auto& c : colours)
        EXPECT_EQ(Load("[Video]\r\nColorBits=" + std::to_string(c[0]) + "\r\n").ComboBox2, c[1]) << c[0];
    const int rates[][2] = {{60, 0}, {75, 1}, {85, 2}, {100, 3}, {72, -1}};
    for (const auto& r : rates)
        EXPECT_EQ(Load("[Video]\r\nRefreshRate=" + std::to_string(r[0]) + "\r\n").ComboBox3, r[1]) << r[0];
    const int lootings[][2] = {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, -1}, {-1, -1}};
    for (const auto& l : lootings)
        EXPECT_EQ(Load("[Game]\r\nPartyLooting=" + std::to_string(l[0]) + "\r\n").ComboBox4, l[1]) << l[0];
}

TEST_F(GameOptions, ValuesOutsideTheListsKeepTheSelectionAndAMissingFileGivesTheDefaults) {
    WriteOptions(
        "[Video]\r\nGamePlayViewportX=1366\r\nGamePlayViewportY=768\r\nColorBits=24\r\nRefreshRate=72\r\n");
    TGameOptionControls c = Controls(1, 0, 3, 2, false, true, true);
    LoadGameOptions(c, Options(), "0");
    EXPECT_EQ(c, Controls(1, 0, 3, 0, true, false, true)); // slot "0" leaves CheckBox3 as it is

    TGameOptionControls missing;
    LoadGameOptions(missing, dir / "system\\none.ini", "1");
    EXPECT_EQ(missing, Controls(-1, -1, -1, 0, true, false, true));
    for (const char* notOne : {"0", "", " 1", "1 ", "true", "01"}) {
        TGameOptionControls c3;
        LoadGameOptions(c3, dir / "system\\none.ini", notOne);
        EXPECT_FALSE(c3.CheckBox3) << notOne;
    }
}

TEST_F(GameOptions, ReadsHexadecimalIntegersAndTakesOtherTextAsTheDefault) {
    EXPECT_EQ(Load("[Video]\r\nGamePlayViewportX=0x280\r\nGamePlayViewportY=$1E0\r\nColorBits=0X20\r\n"
                   "RefreshRate=$4b\r\n[Game]\r\nPartyLooting=0x4\r\n"),
              Controls(0, 0, 1, 4, true, false, false));
    // Not a number: the default 0 (so "Finders Keepers"), and the sum falls back to one width alone.
    EXPECT_EQ(
        Load("[Video]\r\nGamePlayViewportX=1792\r\nGamePlayViewportY=768px\r\nColorBits=32.0\r\n[Game]\r\n"
             "PartyLooting=2x\r\n")
            .ComboBox4,
        0);
    EXPECT_EQ(Load("[Video]\r\nGamePlayViewportX=1792\r\nGamePlayViewportY=768px\r\n").ComboBox1, 2);
    EXPECT_EQ(Load("[Video]\r\nColorBits=32.0\r\n").ComboBox2, -1);

    const struct {
        const char* text;
        bool ok;
        int32_t value;
    } integers[] = {{"-1", true, -1},
                    {"+7", true, 7},
                    {"$FFFFFFFF", true, -1},
                    {"0x7fffffff", true, 2147483647},
                    {"-$10", true, -16},
                    {"2147483647", true, 2147483647},
                    {"-2147483648", true, INT32_MIN},
                    {"2147483648", false, 0},
                    {"$100000000", false, 0},
                    {"0x", false, 0},
                    {"$", false, 0},
                    {"", false, 0},
                    {"12 ", false, 0},
                    {"0xG1", false, 0},
                    {"1e3", false, 0},
                    {"-", false, 0}};
    for (const auto& i : integers) {
        int32_t value = 12345;
        EXPECT_EQ(TryStrToInt(i.text, &value), i.ok) << i.text;
        if (i.ok) {
            EXPECT_EQ(value, i.value) << i.text;
        }
    }
}

TEST_F(GameOptions, ConvertsBooleansAndAConversionErrorEndsTheLoadAtItsStep) {
    const struct {
        const char* text;
        bool value;
    } booleans[] = {{"TRUE", true},   {"1", true},  {"0", false},  {"false", false}, {"True", true},
                    {"fAlSe", false}, {"-1", true}, {"$0", false}, {"0x10", true},   {"0.0", false},
                    {"2.5", true},    {".5", true}, {"1e3", true}, {"000", false}};
    for (const auto& b : booleans) {
        EXPECT_EQ(StrToBool(b.text), b.value) << b.text;
        EXPECT_EQ(Load(std::string("[Video]\r\nIsKeepMinFrameRate=") + b.text + "\r\n").CheckBox1, b.value)
            << b.text;
    }
    for (const char* bad : {"", "yes", "on", "truex", "1x", "0x", "e3", "1.2.3", "inf", "nan", "t"})
        EXPECT_EQ(ErrorOf([&] { StrToBool(bad); }),
                  std::string("'") + bad + "' is not a valid boolean value");

    // An error in IsKeepMinFrameRate: the boxes before it are filled, CheckBox1 and everything after it
    // keep their state as created, CheckBox3 included.
    WriteOptions(
        "[Video]\r\nGamePlayViewportX=800\r\nGamePlayViewportY=600\r\nColorBits=32\r\nRefreshRate=75\r\n"
        "IsKeepMinFrameRate=yes\r\nStartupFullScreen=true\r\n[Game]\r\nPartyLooting=2\r\n");
    TGameOptionControls c;
    EXPECT_EQ(ErrorOf([&] { LoadGameOptions(c, Options(), "1"); }), "'yes' is not a valid boolean value");
    EXPECT_EQ(c, Controls(1, 0, 1, -1, false, false, false));

    // An empty StartupFullScreen: CheckBox1 is already set.
    WriteOptions("[Video]\r\nIsKeepMinFrameRate=1\r\nStartupFullScreen=\r\n[Game]\r\nPartyLooting=2\r\n");
    TGameOptionControls d;
    EXPECT_EQ(ErrorOf([&] { LoadGameOptions(d, Options(), "1"); }), "'' is not a valid boolean value");
    EXPECT_EQ(d, Controls(-1, -1, -1, -1, true, false, false));
}

TEST_F(GameOptions, WritesInOrderAndKeepsEveryOtherLine) {
    WriteOptions("; game options\r\n[Video]\r\nGamma=3\r\nColorBits=24\r\n\r\n[Game]\r\nName=Hero\r\n"
                 "[Sound]\r\nVolume=7\r\n");
    WriteBytes(Settings(), "[main]\r\nAtRevision=12\r\n");
    Save(Controls(4, 1, 3, 3, true, false, true));
    EXPECT_EQ(
        ReadBytes(Options()),
        "; game options\r\n[Video]\r\nGamma=3\r\nColorBits=16\r\nGamePlayViewportX=1280\r\n"
        "GamePlayViewportY=1024\r\nRefreshRate=100\r\nIsKeepMinFrameRate=true\r\nStartupFullScreen=false\r\n"
        "\r\n[Game]\r\nName=Hero\r\nPartyLooting=3\r\n[Sound]\r\nVolume=7\r\n");
    EXPECT_EQ(slot, "1");
    EXPECT_EQ(ReadBytes(Settings()), "[main]\r\nAtRevision=12\r\nCreateBackup=1\r\n");

    // Saved over again with the other choices: every key is replaced where it stands.
    Save(Controls(3, 0, 0, 0, false, true, false));
    EXPECT_EQ(
        ReadBytes(Options()),
        "; game options\r\n[Video]\r\nGamma=3\r\nColorBits=32\r\nGamePlayViewportX=1280\r\n"
        "GamePlayViewportY=960\r\nRefreshRate=60\r\nIsKeepMinFrameRate=false\r\nStartupFullScreen=true\r\n"
        "\r\n[Game]\r\nName=Hero\r\nPartyLooting=0\r\n[Sound]\r\nVolume=7\r\n");
    EXPECT_EQ(slot, "0");
    EXPECT_EQ(ReadBytes(Settings()), "[main]\r\nAtRevision=12\r\nCreateBackup=0\r\n");
}

TEST_F(GameOptions, EveryItemWritesItsValueAndLoadsBackToItself) {
    const char* const widths[] = {"640", "800", "1024", "1280", "1280"};
    const char* const heights[] = {"480", "600", "768", "960", "1024"};
    const char* const colours[] = {"32", "16"};
    const char* const rates[] = {"60", "75", "85", "100"};
    WriteOptions("");
    const TIniFile ini(Options());
    for (int i = 0; i < 5; ++i) {
        TGameOptionControls c = Controls(i, i % 2, i % 4, i, i % 2 == 0, i % 2 == 1, i % 2 == 0);
        Save(c);
        EXPECT_EQ(ini.ReadString("Video", "GamePlayViewportX", "?"), widths[i]);
        EXPECT_EQ(ini.ReadString("Video", "GamePlayViewportY", "?"), heights[i]);
        EXPECT_EQ(ini.ReadString("Video", "ColorBits", "?"), colours[i % 2]);
        EXPECT_EQ(ini.ReadString("Video", "RefreshRate", "?"), rates[i % 4]);
        EXPECT_EQ(ini.ReadString("Game", "PartyLooting", "?"), std::to_string(i));
        EXPECT_EQ(ini.ReadString("Video", "IsKeepMinFrameRate", "?"), i % 2 == 0 ? "true" : "false");
        EXPECT_EQ(ini.ReadString("Video", "StartupFullScreen", "?"), i % 2 == 1 ? "true" : "false");
        EXPECT_EQ(TIniFile(Settings()).ReadString("main", "CreateBackup", "?"), slot);
        TGameOptionControls back;
        LoadGameOptions(back, Options(), slot);
        EXPECT_EQ(back, c) << "item " << i;
    }
}

TEST_F(GameOptions, ABoxWithoutSelectionKeepsTheStoredValue) {
    const std::string stored =
        "[Video]\r\nGamePlayViewportX=1366\r\nGamePlayViewportY=768\r\nColorBits=24\r\n"
        "RefreshRate=72\r\nIsKeepMinFrameRate=true\r\nStartupFullScreen=false\r\n"
        "[Game]\r\nPartyLooting=9\r\n";
    TGameOptionControls c = Load(stored);
    EXPECT_EQ(c, Controls(-1, -1, -1, -1, true, false, false));
    Save(c);
    EXPECT_EQ(ReadBytes(Options()), stored);
    c.CheckBox2 = true;
    Save(c);
    EXPECT_EQ(ReadBytes(Options()), ReplaceAll(stored, "StartupFullScreen=false", "StartupFullScreen=true"));
}

// A folder in the file's place makes the system refuse the write whoever runs the tests (a read-only
// file would not stop root).
TEST_F(GameOptions, ARefusedWriteRaisesAndSkipsTheRemainingWrites) {
    platform::MakeFolders(Options());
    TGameOptionControls c = Controls(2, 0, 1, 1, true, true, true);
    EXPECT_EQ(ErrorOf([&] { Save(c); }), "Unable to write to " + Options());
    EXPECT_EQ(slot, "0");
    EXPECT_FALSE(platform::IsFile(Settings()));

    // option.ini is written, then the slot changes and the settings file refuses.
    platform::DeleteFolderTree(Options());
    WriteOptions("[Video]\r\n");
    platform::MakeFolders(Settings());
    EXPECT_EQ(ErrorOf([&] { Save(c); }), "Unable to write to " + Settings());
    EXPECT_EQ(TIniFile(Options()).ReadString("Game", "PartyLooting", "?"), "1");
    EXPECT_EQ(slot, "1");
}

TEST_F(GameOptions, ApplyWritesOnlyWhenTheOptionsFileExists) {
    const TGameOptionControls c = Controls(0, 1, 2, 3, false, true, true);
    const TInstallFolder folder(dir.Path());
    EXPECT_FALSE(ApplyGameOptions(c, folder, slot));
    EXPECT_EQ(slot, "0");
    EXPECT_FALSE(platform::IsFile(Options()));
    EXPECT_FALSE(platform::IsFile(Settings()));
    platform::MakeFolders(Options()); // a folder of that name is no options file
    EXPECT_FALSE(ApplyGameOptions(c, folder, slot));
    EXPECT_FALSE(platform::IsFile(Settings()));

    platform::DeleteFolderTree(Options());
    WriteOptions("[Video]\r\n");
    EXPECT_TRUE(ApplyGameOptions(c, folder, slot));
    EXPECT_EQ(slot, "1");
    EXPECT_EQ(ReadBytes(Settings()), "[main]\r\nCreateBackup=1\r\n");
    TGameOptionControls back;
    LoadGameOptions(back, GameOptionsPath(folder), slot);
    EXPECT_EQ(back, c);
}
