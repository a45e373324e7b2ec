#include "support/IniFile.h"

#include "platform/Platform.h"
#include "support/Errors.h"

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& fallback) const {
    return platform::ReadIniString(path_, section, key, fallback);
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) const {
    if (!platform::WriteIniString(path_, section, key, value)) throw Exception("Unable to write to " + path_);
}
