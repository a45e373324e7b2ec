#include "platform/Platform.h"

#include <windows.h>
#include <vector>

namespace platform {

std::string ReadIniString(const std::string& path, const std::string& section, const std::string& key,
                              const std::string& fallback) {
    std::vector<char> buffer(4096);
    for (;;) {
        DWORD got = GetPrivateProfileStringA(section.c_str(), key.c_str(), fallback.c_str(), buffer.data(),
                                             static_cast<DWORD>(buffer.size()), path.c_str());
        if (got + 1 < buffer.size()) return std::string(buffer.data(), got);
        buffer.resize(buffer.size() * 2);
    }
}

bool WriteIniString(const std::string& path, const std::string& section, const std::string& key,
                        const std::string& value) {
    return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), path.c_str()) != FALSE;
}

} // namespace platform
