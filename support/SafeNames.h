// The one rule for the names an update list may hold: what the launcher agrees to install and what
// vandrel-publish agrees to list are decided here, so a published client can always finish updating.
#pragma once

#include <string>

// Why a list path cannot be joined onto the install folder safely, or "" when it can. "\" (or "/")
// separates folder names. Refused: a drive, root, UNC or device prefix; an empty, "." or ".." folder
// name; ":" (drive letters, alternate data streams); a control byte or a character Windows forbids in
// names (<>"|?*); a name ending with a dot or a blank; a path starting with a blank (the list reader
// trims it away); a reserved device name (CON, PRN, AUX, NUL, CONIN$, CONOUT$, CLOCK$, COM0-9,
// LPT0-9, with any extension); a name of the launcher's own (names::IsLauncherOwnedPath).
std::string UnsafePathReason(const std::string& path);
inline bool IsSafeRelativePath(const std::string& path) { return UnsafePathReason(path).empty(); }

// Why a name cannot be the launcher's own exe, or "" when it can. Its replacement batch file names it
// without quotes and is read in the OEM code page: a safe path without a folder, printable ASCII only,
// and none of the characters the command processor takes as separators or commands
// (blank , ; = & | < > ^ % " ! ( )).
std::string UnsafeSelfNameReason(const std::string& name);
inline bool IsPlainFileName(const std::string& name) { return UnsafeSelfNameReason(name).empty(); }

// A name as Windows compares names: ASCII letters and the letters of code page 1251 (Cyrillic, with
// Ё/ё and the other letters of the 0x80-0xBF range) folded to lower case, every other byte as it is.
std::string FoldCase(const std::string& name);
// Whether two names are one name on Windows.
inline bool SameNameIgnoringCase(const std::string& a, const std::string& b) { return FoldCase(a) == FoldCase(b); }
