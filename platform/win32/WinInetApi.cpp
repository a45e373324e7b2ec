#include "platform/win32/WinInetApi.h"

#include "platform/win32/LateBound.h"

namespace platform::win32 {

const TWinInetApi& WinInet() {
    static const TWinInetApi api{
        LATE_BOUND(L"wininet.dll", InternetOpenA),       LATE_BOUND(L"wininet.dll", InternetOpenUrlA),
        LATE_BOUND(L"wininet.dll", InternetReadFile),    LATE_BOUND(L"wininet.dll", InternetSetOptionA),
        LATE_BOUND(L"wininet.dll", InternetCloseHandle), LATE_BOUND(L"wininet.dll", HttpQueryInfoA),
        LATE_BOUND(L"wininet.dll", DeleteUrlCacheEntryA)};
    return api;
}

} // namespace platform::win32
