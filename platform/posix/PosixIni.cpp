// INI profile strings with the observable behaviour of the Windows profile functions: section and key
// names match without regard to case, values are trimmed and lose one pair of enclosing quotes; a write
// creates the file and the section when missing, replaces the key's line in place and keeps every other
// line as it was.
#include "platform/Platform.h"
#include "platform/posix/PosixPaths.h"

#include <fstream>
#include <sstream>
#include <strings.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

std::string TrimBlanks(const std::string& text) {
    size_t b = text.find_first_not_of(" \t");
    if (b == std::string::npos) return std::string();
    size_t e = text.find_last_not_of(" \t");
    return text.substr(b, e - b + 1);
}

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0;
}

std::vector<std::string> ReadLines(const std::string& path, bool* exists) {
    std::vector<std::string> lines;
    std::ifstream in(posix::NativePath(path), std::ios::binary);
    *exists = static_cast<bool>(in);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// The section header's name, or false when the line is no section header.
bool SectionName(const std::string& line, std::string* name) {
    std::string t = TrimBlanks(line);
    if (t.size() < 2 || t.front() != '[') return false;
    size_t close = t.find(']');
    if (close == std::string::npos) return false;
    *name = TrimBlanks(t.substr(1, close - 1));
    return true;
}

// The key of a "key=value" line, or false.
bool KeyName(const std::string& line, std::string* key, std::string* value) {
    size_t eq = line.find('=');
    if (eq == std::string::npos) return false;
    *key = TrimBlanks(line.substr(0, eq));
    *value = TrimBlanks(line.substr(eq + 1));
    return true;
}

} // namespace

std::string ReadIniString(const std::string& path, const std::string& section, const std::string& key,
                              const std::string& fallback) {
    bool exists = false;
    std::vector<std::string> lines = ReadLines(path, &exists);
    bool inSection = false;
    for (const std::string& line : lines) {
        std::string name, k, v;
        if (SectionName(line, &name)) {
            inSection = SameName(name, section);
            continue;
        }
        if (inSection && KeyName(line, &k, &v) && SameName(k, key)) {
            if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
                v = v.substr(1, v.size() - 2);
            return v;
        }
    }
    return fallback;
}

bool WriteIniString(const std::string& path, const std::string& section, const std::string& key,
                        const std::string& value) {
    bool exists = false;
    std::vector<std::string> lines = ReadLines(path, &exists);
    const std::string entry = key + "=" + value;

    size_t sectionAt = lines.size(), insertAt = lines.size();
    bool replaced = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string name, k, v;
        if (SectionName(lines[i], &name)) {
            if (sectionAt != lines.size()) break; // the next section ends ours
            if (SameName(name, section)) sectionAt = insertAt = i;
            continue;
        }
        if (sectionAt == lines.size()) continue;
        if (KeyName(lines[i], &k, &v) && SameName(k, key)) {
            lines[i] = entry;
            replaced = true;
            break;
        }
        if (!TrimBlanks(lines[i]).empty()) insertAt = i; // a new key goes after the section's last line
    }
    if (!replaced) {
        if (sectionAt == lines.size()) {
            lines.push_back("[" + section + "]");
            lines.push_back(entry);
        } else {
            lines.insert(lines.begin() + static_cast<long>(insertAt) + 1, entry);
        }
    }

    std::ostringstream text;
    for (const std::string& line : lines) text << line << "\r\n";
    const std::string native = posix::NativePath(path);
    std::ofstream out(native, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << text.str();
    out.close();
    return static_cast<bool>(out);
}

} // namespace platform
