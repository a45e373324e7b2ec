// The launcher's fixed configuration: eight text slots, built from constants at start-up and read by
// index. Nothing is read from files, the registry or the command line; _settings.ini is written only.
#pragma once

#include "support/InstallFolder.h"

#include <array>
#include <string>

enum TLauncherSlot {
    SlotInstallDir = 0,   // the current folder at start-up followed by "\"
    SlotNewsUrl = 1,      // the news page shown in the window's browser
    SlotUpdateUrl = 2,    // the update base URL (ends with "/")
    SlotShortcutName = 3, // the desktop shortcut's name without ".lnk"; empty: no shortcut
    SlotSpare = 4,        // reserved
    SlotCreateBackup = 5, // "1": keep backups of replaced files; written by the settings dialog
    SlotRevision = 6,     // the revision every run starts from
    SlotGameExe = 7,      // the game's executable, relative to the install folder
};

// The values an operator fixes when building the launcher.
struct TBranding {
    std::string NewsUrl;
    std::string UpdateUrl;
    std::string ShortcutName;
    std::string SiteUrl;
    std::string ForumUrl;
    std::string RegisterUrl;
    std::string DesignerUrl;
    std::string ListPublicKey; // empty: update lists are not signed
};

// The branding this launcher was built with.
const TBranding& BuiltInBranding();

class LauncherConfig {
public:
    const std::string& operator[](int index) const { return slots_.at(index); }
    std::string& operator[](int index) { return slots_.at(index); }

private:
    std::array<std::string, 8> slots_;
};

// The eight start values; SlotInstallDir is the install folder's path (ending with "\").
LauncherConfig BuildLauncherConfig(const TInstallFolder& folder, const TBranding& branding);
