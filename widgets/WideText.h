// Texts for the wide (W) window functions. The launcher's own words are UTF-8 in its source; data from
// files (names from the update list, values from INI files, paths in error messages) are bytes in the
// ANSI code page. Each part is converted by its own rule: the encoding of a byte string is never guessed,
// because a Windows-1251 name can be valid UTF-8 by chance.
#pragma once

#include <string>

// The launcher's own words.
std::wstring Utf8ToWide(const std::string& text);
// Data from files.
std::wstring AnsiToWide(const std::string& text);
