// HTTP through WinINet, as the launcher has always fetched: its agent name, the system's proxy
// settings, no cache flags, and the URL's cache entry dropped right after the URL opens.
#include "platform/Platform.h"
#include "platform/win32/Win32Handles.h"

#include <atomic>

namespace platform {
namespace {

std::atomic<int> stallSeconds{60};

class WinInetBody final : public HttpBody {
public:
    WinInetBody(HINTERNET root, HINTERNET url) : root_(root), url_(url) {}

    bool Read(void* buffer, size_t count, size_t* received) override {
        DWORD got = 0;
        DWORD ask = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
        BOOL ok = InternetReadFile(url_.Get(), buffer, ask, &got);
        *received = ok ? got : 0;
        return ok != FALSE;
    }

private:
    // The URL handle is closed before the root handle (members go in reverse order).
    win32::InternetHandle root_;
    win32::InternetHandle url_;
};

} // namespace

void SetHttpStallTimeout(int seconds) { stallSeconds = seconds; }

std::unique_ptr<HttpBody> OpenUrl(const std::string& url) {
    HINTERNET root = InternetOpenA("ViDiduzeDuzozod", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!root) return nullptr;
    DWORD timeout = static_cast<DWORD>(stallSeconds.load()) * 1000;
    InternetSetOptionA(root, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
    HINTERNET handle = InternetOpenUrlA(root, url.c_str(), nullptr, 0, 0, 0);
    if (!handle) {
        InternetCloseHandle(root);
        return nullptr;
    }
    DeleteUrlCacheEntryA(url.c_str());
    return std::make_unique<WinInetBody>(root, handle);
}

} // namespace platform
