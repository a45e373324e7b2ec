// What the game settings dialog shows and where: its size, captions, combo box items, places and colours.
// Texts are UTF-8; the Win32 dialog draws them through the wide APIs so they read the same on every
// system code page. The option mapping (GameOptions) relies on the order of the combo box items.
#pragma once

#include "widgets/Colors.h"

#include <array>

namespace settingsui {

struct TPlace {
    int Left, Top, Width, Height;
};

// A caption the dialog draws itself on its skin; its size follows from the text.
struct TLabel {
    int Left, Top;
    const char* Caption;
    bool Bold;
};

constexpr int kClientWidth = 220;
constexpr int kClientHeight = 300;

// Every text of the dialog is in the skin forms' face (TSkinForm::SkinFont).
constexpr TColor kCaptionColour = RgbColor(0xCA, 0xCA, 0xCA);  // labels and check box captions
constexpr TColor kButtonColour = RgbColor(0xE8, 0xE8, 0xE8);   // the two buttons' captions
constexpr TColor kComboBoxColour = RgbColor(0x2F, 0x3C, 0x53); // background of the combo boxes
constexpr TColor kCheckBoxColour = RgbColor(0x22, 0x35, 0x53); // background of the check boxes
// The shipped skin's key colour; the window cuts out whatever colour its pixel (0, 0) has.
constexpr TColor kSkinKeyColour = RgbColor(0x00, 0xFF, 0x18);

constexpr std::array<TLabel, 9> kLabels{{
    {43, 36, "Настройки обновления ", true},
    {83, 67, "обновлением", false},
    {65, 88, "Настройки игры", true},
    {27, 108, "Разрешение :", false},
    {28, 129, "Качество", false},
    {27, 139, "цвета :", false},
    {27, 154, "Частота", false},
    {27, 166, "обновления :", false},
    {32, 224, "Loot :", false},
}};

// Resolution: option.ini Video/GamePlayViewportX and GamePlayViewportY.
constexpr TPlace kComboBox1Place{100, 108, 93, 21};
constexpr std::array<const char*, 5> kComboBox1Items{"640x480", "800x600", "1024x768", "1280x960",
                                                     "1280x1024"};
// Colour depth: Video/ColorBits.
constexpr TPlace kComboBox2Place{100, 132, 93, 21};
constexpr std::array<const char*, 2> kComboBox2Items{"32 Bit", "16 Bit"};
// Refresh rate: Video/RefreshRate.
constexpr TPlace kComboBox3Place{100, 156, 93, 21};
constexpr std::array<const char*, 4> kComboBox3Items{"60 hz", "75 hz", "85 hz", "100 hz"};
// The party's looting rule: Game/PartyLooting.
constexpr TPlace kComboBox4Place{66, 221, 127, 21};
constexpr std::array<const char*, 5> kComboBox4Items{"Finders Keepers", "Random", "Random including spoil",
                                                     "By turn", "By turn including spoil"};

// Low detail: Video/IsKeepMinFrameRate.
constexpr TPlace kCheckBox1Place{68, 182, 133, 17};
constexpr const char* kCheckBox1Caption = "Низкая детализация";
// Full screen: Video/StartupFullScreen.
constexpr TPlace kCheckBox2Place{68, 200, 109, 17};
constexpr const char* kCheckBox2Caption = "На ввесь экран";
// Backups of replaced files during an update: _settings.ini main/CreateBackup. The caption's second
// line is the label "обновлением" below it.
constexpr TPlace kCheckBox3Place{47, 54, 138, 15};
constexpr const char* kCheckBox3Caption = "Создать бэкап перед";

constexpr TPlace kApplyButtonPlace{40, 256, 67, 25};
constexpr const char* kApplyButtonCaption = "Применить";
constexpr TPlace kCancelButtonPlace{114, 256, 71, 25};
constexpr const char* kCancelButtonCaption = "Отменить";

} // namespace settingsui
