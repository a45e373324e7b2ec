#include "settings/GameOptions.h"

#include "platform/Platform.h"
#include "settings/Frm2Layout.h"
#include "platform/Errors.h"
#include "support/IniFile.h"
#include "support/LauncherNames.h"

#include <array>
#include <cctype>
#include <cstdint>
#include <cstdlib>

namespace {

const char* const kVideo = "Video";
const char* const kGame = "Game";

// What each combo box item stands for in option.ini, in the order of the items.
constexpr std::array<int32_t, 5> kViewportX{640, 800, 1024, 1280, 1280};
constexpr std::array<int32_t, 5> kViewportY{480, 600, 768, 960, 1024};
constexpr std::array<int32_t, 2> kColorBits{32, 16};
constexpr std::array<int32_t, 4> kRefreshRates{60, 75, 85, 100};
static_assert(kViewportX.size() == settingsui::kComboBox1Items.size(), "one resolution per item");
static_assert(kColorBits.size() == settingsui::kComboBox2Items.size(), "one colour depth per item");
static_assert(kRefreshRates.size() == settingsui::kComboBox3Items.size(), "one refresh rate per item");

template <size_t N> int IndexOf(const std::array<int32_t, N>& values, int64_t value) {
    for (size_t i = 0; i < N; ++i)
        if (values[i] == value) return static_cast<int>(i);
    return -1;
}

bool SameWord(const std::string& text, const char* word) {
    size_t i = 0;
    for (; i < text.size() && word[i] != '\0'; ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != word[i]) return false;
    return i == text.size() && word[i] == '\0';
}

bool HasItem(int index, size_t count) {
    return index >= 0 && static_cast<size_t>(index) < count;
}

// A decimal fraction such as "0.0", "-1.5", ".5" or "2e3"; no blanks, no hexadecimal, no "inf" or "nan".
bool TryDecimalFraction(const std::string& text, double* value) {
    size_t i = 0;
    auto digits = [&]() {
        size_t from = i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])))
            ++i;
        return i - from;
    };
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    size_t mantissa = digits();
    if (i < text.size() && text[i] == '.') {
        ++i;
        mantissa += digits();
    }
    if (mantissa == 0) return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        if (digits() == 0) return false;
    }
    if (i != text.size()) return false;
    *value = std::strtod(text.c_str(), nullptr);
    return true;
}

} // namespace

bool StrToBool(const std::string& text) {
    if (SameWord(text, "true")) return true;
    if (SameWord(text, "false")) return false;
    int32_t integer = 0;
    if (TryStrToInt(text, &integer)) return integer != 0;
    double fraction = 0;
    if (TryDecimalFraction(text, &fraction)) return fraction != 0;
    throw EConvertError(text, "boolean");
}

std::string GameOptionsPath(const TInstallFolder& folder) { return folder / names::kGameOptionsFile; }

void LoadGameOptions(TGameOptionControls& controls, const std::string& optionsPath,
                     const std::string& slotCreateBackup) {
    const TIniFile ini(optionsPath);

    // The resolution is found by the sum of width and height alone.
    const int64_t sum = int64_t{ini.ReadInteger(kVideo, "GamePlayViewportX", 0)} +
                        ini.ReadInteger(kVideo, "GamePlayViewportY", 0);
    for (size_t i = 0; i < kViewportX.size(); ++i)
        if (kViewportX[i] + kViewportY[i] == sum) controls.ComboBox1 = static_cast<int>(i);

    const int colour = IndexOf(kColorBits, ini.ReadInteger(kVideo, "ColorBits", 0));
    if (colour >= 0) controls.ComboBox2 = colour;
    const int refresh = IndexOf(kRefreshRates, ini.ReadInteger(kVideo, "RefreshRate", 0));
    if (refresh >= 0) controls.ComboBox3 = refresh;

    controls.CheckBox1 = StrToBool(ini.ReadString(kVideo, "IsKeepMinFrameRate", "true"));
    controls.CheckBox2 = StrToBool(ini.ReadString(kVideo, "StartupFullScreen", "false"));

    const int32_t looting = ini.ReadInteger(kGame, "PartyLooting", 0);
    controls.ComboBox4 = HasItem(looting, settingsui::kComboBox4Items.size()) ? looting : -1;

    if (slotCreateBackup == "1") controls.CheckBox3 = true;
}

void SaveGameOptions(const TGameOptionControls& controls, const std::string& optionsPath,
                     std::string& slotCreateBackup, const std::string& settingsIniPath) {
    const TIniFile ini(optionsPath);
    // A box without a selection stands for a stored value the dialog cannot show: it stays as it is.
    if (HasItem(controls.ComboBox1, kViewportX.size())) {
        ini.WriteString(kVideo, "GamePlayViewportX", std::to_string(kViewportX[controls.ComboBox1]));
        ini.WriteString(kVideo, "GamePlayViewportY", std::to_string(kViewportY[controls.ComboBox1]));
    }
    if (HasItem(controls.ComboBox2, kColorBits.size()))
        ini.WriteInteger(kVideo, "ColorBits", kColorBits[controls.ComboBox2]);
    if (HasItem(controls.ComboBox3, kRefreshRates.size()))
        ini.WriteString(kVideo, "RefreshRate", std::to_string(kRefreshRates[controls.ComboBox3]));
    ini.WriteString(kVideo, "IsKeepMinFrameRate", controls.CheckBox1 ? "true" : "false");
    ini.WriteString(kVideo, "StartupFullScreen", controls.CheckBox2 ? "true" : "false");
    if (HasItem(controls.ComboBox4, settingsui::kComboBox4Items.size()))
        ini.WriteInteger(kGame, "PartyLooting", controls.ComboBox4);

    slotCreateBackup = controls.CheckBox3 ? "1" : "0";
    TIniFile(settingsIniPath).WriteString(names::kSettingsSection, names::kBackupKey, slotCreateBackup);
}

bool ApplyGameOptions(const TGameOptionControls& controls, const TInstallFolder& folder,
                      std::string& slotCreateBackup) {
    const std::string optionsPath = GameOptionsPath(folder);
    if (!platform::IsFile(optionsPath)) return false;
    SaveGameOptions(controls, optionsPath, slotCreateBackup, folder / names::kSettingsFile);
    return true;
}
