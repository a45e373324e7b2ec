#include "platform/win32/WinInetApi.h"

#include <stdexcept>

namespace platform::win32 {
namespace {
template <typename F> void Bind(HMODULE module, const char* name, F* to) {
    *to = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (!*to) throw std::runtime_error(std::string("wininet.dll has no ") + name);
}

TWinInetApi Load() {
    // Kept loaded for the life of the process, as an import would be.
    HMODULE module = LoadLibraryW(L"wininet.dll");
    if (!module) throw std::runtime_error("wininet.dll cannot be loaded");
    TWinInetApi api{};
    Bind(module, "InternetOpenA", &api.InternetOpenA);
    Bind(module, "InternetOpenUrlA", &api.InternetOpenUrlA);
    Bind(module, "InternetReadFile", &api.InternetReadFile);
    Bind(module, "InternetSetOptionA", &api.InternetSetOptionA);
    Bind(module, "InternetCloseHandle", &api.InternetCloseHandle);
    Bind(module, "HttpQueryInfoA", &api.HttpQueryInfoA);
    Bind(module, "DeleteUrlCacheEntryA", &api.DeleteUrlCacheEntryA);
    return api;
}
} // namespace

const TWinInetApi& WinInet() {
    static const TWinInetApi api = Load();
    return api;
}

} // namespace platform::win32
