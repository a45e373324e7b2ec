// The game settings dialog's options, apart from its window: how the keys of the game's options file
// (system\option.ini) and the launcher's backup switch are read into the dialog's controls and written
// back. The Win32 dialog keeps a TGameOptionControls in step with its real controls.
#pragma once

#include "support/InstallFolder.h"

#include <string>

// The state of the dialog's controls. A combo box holds the index of its selected item (the items of
// Frm2Layout.h), -1 for none. As created: nothing selected, nothing checked.
struct TGameOptionControls {
    int ComboBox1 = -1;     // resolution
    int ComboBox2 = -1;     // colour depth
    int ComboBox3 = -1;     // refresh rate
    int ComboBox4 = -1;     // the party's looting rule
    bool CheckBox1 = false; // low detail
    bool CheckBox2 = false; // full screen
    bool CheckBox3 = false; // backups before an update
};

// "true" and "false" in any letter case, and any number (0 is false, every other number true: decimal,
// "0x"/"$" hexadecimal or a decimal fraction). Anything else, the empty text included, raises
// EConvertError "'%s' is not a valid boolean value".
bool StrToBool(const std::string& text);

// The game's options file of the install folder (system\option.ini).
std::string GameOptionsPath(const TInstallFolder& folder);

// Fills the controls from the options file (a missing file reads as all defaults) and checks CheckBox3
// when slotCreateBackup is exactly "1". A value of IsKeepMinFrameRate or StartupFullScreen that is no
// boolean raises EConvertError at that step; the controls of the later steps keep their state.
void LoadGameOptions(TGameOptionControls& controls, const std::string& optionsPath,
                     const std::string& slotCreateBackup);

// Writes the controls to the options file in the order GamePlayViewportX, GamePlayViewportY, ColorBits,
// RefreshRate, IsKeepMinFrameRate, StartupFullScreen (section Video), PartyLooting (section Game), keeping
// every other line. A combo box without a selection leaves its keys as they are stored. Then sets
// slotCreateBackup to "1" or "0" from CheckBox3 and writes it to settingsIniPath, main/CreateBackup.
// A refused write raises "Unable to write to %s" and the writes after it are not made.
void SaveGameOptions(const TGameOptionControls& controls, const std::string& optionsPath,
                     std::string& slotCreateBackup, const std::string& settingsIniPath);

// The apply button: saves the controls when the install folder's options file exists (the settings
// file is the install folder's _settings.ini). False when there is no options file and nothing was written.
bool ApplyGameOptions(const TGameOptionControls& controls, const TInstallFolder& folder,
                      std::string& slotCreateBackup);
