// INI profile files (_settings.ini, the game's option.ini) read and written with the Windows
// profile-string rules.
#pragma once

#include <cstdint>
#include <string>

// Integer text as the profile files hold it: an optional sign, then decimal digits, or hexadecimal
// digits after "0x" or "$" (up to 8 of them, taken as a 32-bit pattern, so "$FFFFFFFF" is -1).
// False for anything else, an empty text and decimal values outside the 32-bit range included.
bool TryStrToInt(const std::string& text, int32_t* value);

class TIniFile {
public:
    explicit TIniFile(std::string path) : path_(std::move(path)) {}
    const std::string& FileName() const { return path_; }
    std::string ReadString(const std::string& section, const std::string& key, const std::string& fallback) const;
    // The value read with TryStrToInt; the fallback when the key is missing or holds no integer.
    int32_t ReadInteger(const std::string& section, const std::string& key, int32_t fallback) const;
    // Raises Exception "Unable to write to %s" when the system refuses the write.
    void WriteString(const std::string& section, const std::string& key, const std::string& value) const;
    // The value as decimal text; refused writes raise as WriteString does.
    void WriteInteger(const std::string& section, const std::string& key, int32_t value) const;

private:
    std::string path_;
};
