// Texts for the wide (W) window functions. The launcher's own words are UTF-8 in its source; data from
// files (names from the update list, values from INI files) are bytes in the ANSI code page.
#pragma once

#include <string>

// The launcher's own words.
std::wstring Utf8ToWide(const std::string& text);
// Data from files.
std::wstring AnsiToWide(const std::string& text);
// Texts that may be either: every valid UTF-8 sequence is decoded, every other byte is taken in the
// ANSI code page.
std::wstring ToWide(const std::string& text);
