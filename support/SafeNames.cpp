#include "support/SafeNames.h"

#include "support/LauncherNames.h"

#include <cstring>

namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// CON, NUL, COM1, ... name devices in every folder and with every extension; so do COM and LPT
// followed by a superscript digit (bytes B9, B2, B3 in code page 1252).
bool IsReservedDeviceName(const std::string& name) {
    std::string base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    for (char& c : base) c = Upper(c);
    static const char* const names[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
    for (const char* device : names)
        if (base == device) return true;
    if (base.size() != 4 || (base.compare(0, 3, "COM") != 0 && base.compare(0, 3, "LPT") != 0)) return false;
    const unsigned char digit = static_cast<unsigned char>(base[3]);
    return (digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

std::string NameReason(const std::string& name, bool first) {
    if (name.empty()) return "an absolute path or an empty folder name; paths are relative to the install folder";
    if (name == "." || name == "..") return "\"" + name + "\" would lead outside the install folder";
    for (unsigned char c : name) {
        if (c < 32) return "a control character in a name (Windows refuses it)";
        if (c == ':') return "\":\" (a drive letter or a stream name) is not allowed in a name";
        if (std::strchr("<>\"|?*", c) != nullptr)
            return std::string("the character '") + static_cast<char>(c) +
                   "' is not allowed in a Windows name (and '|' separates the list's fields)";
    }
    if (name.back() == '.' || name.back() == ' ')
        return "a name ending with a dot or a blank (Windows drops it, so the file would not be found)";
    if (first && name.front() == ' ') return "a path starting with a blank (the list reader trims it away)";
    if (IsReservedDeviceName(name)) return "\"" + name + "\" is a reserved device name on Windows";
    return std::string();
}

} // namespace

std::string FoldCase(const std::string& name) {
    // Code page 1251's capitals above 0x7F and their small letters: 0xC0-0xDF pair with 0xE0-0xFF; the
    // rest pair as listed here.
    static const unsigned char kPairs[][2] = {{0x80, 0x90}, {0x81, 0x83}, {0x8A, 0x9A}, {0x8C, 0x9C}, {0x8D, 0x9D},
                                              {0x8E, 0x9E}, {0x8F, 0x9F}, {0xA1, 0xA2}, {0xA3, 0xBC}, {0xA5, 0xB4},
                                              {0xA8, 0xB8}, {0xAA, 0xBA}, {0xAF, 0xBF}, {0xB2, 0xB3}, {0xBD, 0xBE}};
    std::string folded = name;
    for (char& c : folded) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte >= 'A' && byte <= 'Z') {
            c = static_cast<char>(byte - 'A' + 'a');
        } else if (byte >= 0xC0 && byte <= 0xDF) {
            c = static_cast<char>(byte + 0x20);
        } else if (byte >= 0x80) {
            for (const auto& pair : kPairs)
                if (byte == pair[0]) c = static_cast<char>(pair[1]);
        }
    }
    return folded;
}

std::string UnsafePathReason(const std::string& path) {
    size_t start = 0;
    for (bool first = true;; first = false) {
        size_t end = path.find_first_of("\\/", start);
        std::string reason =
            NameReason(path.substr(start, end == std::string::npos ? std::string::npos : end - start), first);
        if (!reason.empty()) return reason; // also refuses a leading or doubled separator
        if (end == std::string::npos) break;
        start = end + 1;
    }
    if (names::IsLauncherOwnedPath(path))
        return "a name the launcher keeps for its own files in the install folder (settings, list, batch file, "
               "backup or staging folder)";
    return std::string();
}

std::string UnsafeSelfNameReason(const std::string& name) {
    if (name.empty()) return "the name is empty";
    for (unsigned char c : name) {
        if (c == '\\' || c == '/') return "it must be a plain file name in the install folder, without a folder";
        if (c == ' ' || c == '\t') return "it has a blank; the replacement batch file names it without quotes";
        if (c >= 0x80) return "it must be ASCII; the replacement batch file is read in the OEM code page";
        if (std::strchr("&|<>^%\"!(),;=", c) != nullptr)
            return std::string("the character '") + static_cast<char>(c) +
                   "' would be misread by the replacement batch file";
    }
    return UnsafePathReason(name);
}
