// Paths in the launcher's own form ("\" between folder names) turned into POSIX paths.
#pragma once

#include <string>

namespace platform::posix {

inline std::string NativePath(std::string path) {
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

} // namespace platform::posix
