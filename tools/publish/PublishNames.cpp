#include "tools/publish/PublishNames.h"

#include "support/SafeNames.h"

#include <cctype>
#include <cstdint>

namespace publish {

namespace {

// Unicode code points of the Windows-1251 bytes 0x80 to 0xBF (0 where the code page has no character);
// 0xC0 to 0xFF are U+0410 to U+044F in order.
const uint16_t kCp1251High[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0000, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457};

bool EncodeCp1251(uint32_t code, char& byte) {
    if (code < 0x80) {
        byte = static_cast<char>(code);
        return true;
    }
    if (code >= 0x0410 && code <= 0x044F) {
        byte = static_cast<char>(0xC0 + (code - 0x0410));
        return true;
    }
    for (int i = 0; i < 64; ++i) {
        if (kCp1251High[i] != 0 && kCp1251High[i] == code) {
            byte = static_cast<char>(0x80 + i);
            return true;
        }
    }
    return false;
}

[[noreturn]] void Refuse(const std::string& path, const std::string& why) {
    throw EPublishError("refusing \"" + path + "\": " + why);
}

} // namespace

bool Utf8ToCp1251(const std::string& utf8, std::string& cp1251) {
    cp1251.clear();
    for (size_t i = 0; i < utf8.size();) {
        unsigned char lead = static_cast<unsigned char>(utf8[i]);
        uint32_t code;
        size_t length;
        if (lead < 0x80) {
            code = lead, length = 1;
        } else if ((lead & 0xE0) == 0xC0) {
            code = lead & 0x1F, length = 2;
        } else if ((lead & 0xF0) == 0xE0) {
            code = lead & 0x0F, length = 3;
        } else if ((lead & 0xF8) == 0xF0) {
            code = lead & 0x07, length = 4;
        } else {
            return false;
        }
        if (i + length > utf8.size()) return false;
        for (size_t k = 1; k < length; ++k) {
            unsigned char next = static_cast<unsigned char>(utf8[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = (code << 6) | (next & 0x3F);
        }
        // Overlong forms would let one name pass as another.
        static const uint32_t kSmallest[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (length > 1 && code < kSmallest[length]) return false;
        char byte;
        if (!EncodeCp1251(code, byte)) return false;
        cp1251 += byte;
        i += length;
    }
    return true;
}

std::string ListPath(const std::string& utf8Path, bool allowCp1251) {
    if (!utf8Path.empty() && utf8Path[0] == '/') Refuse(utf8Path, "absolute path; paths must be relative to the client");
    for (char c : utf8Path) {
        if (c == '\\') Refuse(utf8Path, "the character '\\' is not allowed in a Windows name");
    }
    std::string result = utf8Path;
    for (char& c : result)
        if (c == '/') c = '\\';
    // The launcher's own rule decides; what it refuses is never listed.
    std::string reason = UnsafePathReason(result);
    if (!reason.empty()) Refuse(utf8Path, reason);
    bool ascii = true;
    for (unsigned char c : result) ascii = ascii && c < 0x80;
    if (ascii) return result;
    if (!allowCp1251)
        Refuse(utf8Path, "non-ASCII name; the launcher reads paths in the players' ANSI code page "
                         "(use --cp1251 if they all run Windows with code page 1251)");
    std::string converted;
    if (!Utf8ToCp1251(result, converted))
        Refuse(utf8Path, "the name is not valid UTF-8 or has a character that code page 1251 lacks");
    reason = UnsafePathReason(converted);
    if (!reason.empty()) Refuse(utf8Path, reason);
    return converted;
}

void CheckSelfName(const std::string& name) {
    const std::string reason = UnsafeSelfNameReason(name);
    if (!reason.empty()) throw EPublishError("the launcher's exe name \"" + name + "\" is refused: " + reason);
}

namespace {
bool GlobFrom(const std::string& pattern, size_t p, const std::string& text, size_t t) {
    while (p < pattern.size()) {
        if (pattern[p] == '*') {
            bool crosses = p + 1 < pattern.size() && pattern[p + 1] == '*';
            size_t rest = p + (crosses ? 2 : 1);
            // "**\" also matches no folder at all.
            if (crosses && rest < pattern.size() && pattern[rest] == '\\' && GlobFrom(pattern, rest + 1, text, t))
                return true;
            for (size_t end = t;; ++end) {
                if (GlobFrom(pattern, rest, text, end)) return true;
                if (end == text.size() || (!crosses && text[end] == '\\')) return false;
            }
        }
        if (t == text.size()) return false;
        bool same = pattern[p] == '?' ? text[t] != '\\'
                                      : std::tolower(static_cast<unsigned char>(pattern[p])) ==
                                            std::tolower(static_cast<unsigned char>(text[t]));
        if (!same) return false;
        ++p, ++t;
    }
    return t == text.size();
}
} // namespace

bool GlobMatch(const std::string& pattern, const std::string& text) { return GlobFrom(pattern, 0, text, 0); }

PathPatterns::PathPatterns(const std::vector<std::string>& patterns) {
    for (std::string text : patterns) {
        for (char& c : text)
            if (c == '/') c = '\\';
        while (text.size() > 1 && text[0] == '.' && text[1] == '\\') text.erase(0, 2);
        if (text.empty()) continue;
        if (text.back() == '\\') text += "**";
        bool nameOnly = text.find('\\') == std::string::npos;
        patterns_.push_back({text, nameOnly});
    }
}

bool PathPatterns::Matches(const std::string& listPath) const {
    size_t slash = listPath.rfind('\\');
    std::string name = slash == std::string::npos ? listPath : listPath.substr(slash + 1);
    for (const Pattern& pattern : patterns_)
        if (GlobMatch(pattern.text, pattern.nameOnly ? name : listPath)) return true;
    return false;
}

} // namespace publish
