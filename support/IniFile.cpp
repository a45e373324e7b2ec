#include "support/IniFile.h"

#include "platform/Platform.h"
#include "platform/Errors.h"

bool TryStrToInt(const std::string& text, int32_t* value) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int base = 10;
    if (text.compare(i, 1, "$") == 0) {
        base = 16;
        i += 1;
    } else if (text.compare(i, 2, "0x") == 0 || text.compare(i, 2, "0X") == 0) {
        base = 16;
        i += 2;
    }
    if (i >= text.size()) return false;
    const uint64_t limit = base == 16 ? 0xFFFFFFFFull : (negative ? 2147483648ull : 2147483647ull);
    uint64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        magnitude = magnitude * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
        if (magnitude > limit) return false;
    }
    // Hexadecimal digits are a 32-bit pattern; decimal ones are in range by the limit above.
    uint32_t bits = static_cast<uint32_t>(magnitude);
    if (negative) bits = 0u - bits;
    *value = static_cast<int32_t>(bits);
    return true;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& fallback) const {
    return platform::ReadIniString(path_, section, key, fallback);
}

int32_t TIniFile::ReadInteger(const std::string& section, const std::string& key, int32_t fallback) const {
    int32_t value = 0;
    return TryStrToInt(ReadString(section, key, std::string()), &value) ? value : fallback;
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) const {
    if (!platform::WriteIniString(path_, section, key, value)) throw Exception("Unable to write to " + path_);
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int32_t value) const {
    WriteString(section, key, std::to_string(value));
}
