#include "update/SafePaths.h"

#include <cctype>
#include <cstring>

namespace {

bool IsReservedDeviceName(const std::string& component) {
    std::string base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    std::string upper;
    for (char c : base) upper.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    static const char* const names[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
    for (const char* name : names)
        if (upper == name) return true;
    if (upper.size() == 4 && (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0) &&
        upper[3] >= '0' && upper[3] <= '9')
        return true;
    return false;
}

bool IsSafeComponent(const std::string& component) {
    if (component.empty() || component == "." || component == "..") return false;
    if (component.back() == '.' || component.back() == ' ') return false;
    for (unsigned char c : component) {
        if (c < 32 || std::strchr("<>:\"|?*", c) != nullptr) return false;
    }
    return !IsReservedDeviceName(component);
}

} // namespace

bool IsSafeRelativePath(const std::string& path) {
    if (path.empty()) return false;
    size_t start = 0;
    for (;;) {
        size_t end = path.find_first_of("\\/", start);
        std::string component = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!IsSafeComponent(component)) return false; // also refuses a leading or doubled separator
        if (end == std::string::npos) return true;
        start = end + 1;
    }
}

bool IsPlainFileName(const std::string& name) {
    if (!IsSafeRelativePath(name)) return false;
    for (unsigned char c : name) {
        if (c == '\\' || c == '/' || c == ' ' || std::strchr("&|<>^%\"!()", c) != nullptr) return false;
    }
    return true;
}
