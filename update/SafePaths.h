// The rules that keep the update list from making the launcher write outside the install folder.
#pragma once

#include <string>

// A path relative to the install folder that stays inside it: no drive, root, UNC or device prefix,
// no "." or ".." component, no ":" (alternate data streams), no character Windows forbids in names, no
// control byte, no reserved device name (CON, NUL, COM1, ... with any extension), no component ending
// in a dot or a blank.
bool IsSafeRelativePath(const std::string& path);

// A plain file name that can stand unquoted in the self-update's batch file: a safe path without a
// folder, a blank, or a character the command processor treats specially.
bool IsPlainFileName(const std::string& name);
