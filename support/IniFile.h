// INI profile files (_settings.ini, the game's option.ini) read and written with the Windows
// profile-string rules.
#pragma once

#include <string>

class TIniFile {
public:
    explicit TIniFile(std::string path) : path_(std::move(path)) {}
    const std::string& FileName() const { return path_; }
    std::string ReadString(const std::string& section, const std::string& key, const std::string& fallback) const;
    // Raises Exception "Unable to write to %s" when the system refuses the write.
    void WriteString(const std::string& section, const std::string& key, const std::string& value) const;

private:
    std::string path_;
};
