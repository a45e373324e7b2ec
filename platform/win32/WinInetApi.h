// WinINet, bound at the first download instead of at start-up: the launcher's window comes up
// without loading it and the network libraries it brings along.
#pragma once

#include <windows.h>
#include <wininet.h>

namespace platform::win32 {

struct TWinInetApi {
    decltype(&::InternetOpenA) InternetOpenA;
    decltype(&::InternetOpenUrlA) InternetOpenUrlA;
    decltype(&::InternetReadFile) InternetReadFile;
    decltype(&::InternetSetOptionA) InternetSetOptionA;
    decltype(&::InternetCloseHandle) InternetCloseHandle;
    decltype(&::HttpQueryInfoA) HttpQueryInfoA;
    decltype(&::DeleteUrlCacheEntryA) DeleteUrlCacheEntryA;
};

// Binds wininet.dll once (thread-safe); raises when the system has none.
const TWinInetApi& WinInet();

} // namespace platform::win32
