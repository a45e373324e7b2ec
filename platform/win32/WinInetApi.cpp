#include "platform/win32/WinInetApi.h"

#include "platform/win32/LateBound.h"

namespace platform::win32 {

const TWinInetApi& WinInet() {
    static const TWinInetApi api{
        LATE_BOUND(L"wininet.dll", InternetOpenA),       LATE_BOUND(L"wininet.dll", InternetOpenUrlA),
        LATE_BOUND(L"wininet.dll", InternetReadFile),    LATE_BOUND(L"wininet.dll", InternetSetOptionA),
        LATE_BOUND(L"wininet.dll", InternetCloseHandle), LATE_BOUND(L"wininet.dll", HttpQueryInfoA),
        LATE_BOUND(L"wininet.dll", DeleteUrlCacheEntryA)};
    static const bool connectionsRaised = [] {
        // The install pass fetches several payloads at once; WinINet would otherwise hold all but two
        // (or four) of them back, one server round trip after another.
        DWORD connections = 16;
        api.InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &connections, sizeof connections);
        api.InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER, &connections, sizeof connections);
        return true;
    }();
    (void)connectionsRaised;
    return api;
}

} // namespace platform::win32
