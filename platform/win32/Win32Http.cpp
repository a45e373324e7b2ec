// HTTP through WinINet, as the launcher has always fetched: its agent name, the system's proxy
// settings, no cache flags, and the URL's cache entry dropped right after the URL opens.
#include "platform/Platform.h"
#include "platform/win32/Win32Handles.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace platform {
namespace {

std::atomic<int> stallSeconds{60};

// A header of the response as text; empty when it has none.
std::string QueryText(HINTERNET url, DWORD what) {
    char text[512];
    DWORD size = sizeof text - 1, index = 0;
    if (!win32::WinInet().HttpQueryInfoA(url, what, text, &size, &index)) return std::string();
    return std::string(text, size);
}

class WinInetBody final : public HttpBody {
public:
    WinInetBody(win32::InternetHandle root, win32::InternetHandle url, int64_t announced)
        : root_(std::move(root)), url_(std::move(url)), announced_(announced) {
        status_ = std::atoi(QueryText(url_.Get(), HTTP_QUERY_STATUS_CODE).c_str());
        const std::string etag = QueryText(url_.Get(), HTTP_QUERY_ETAG);
        validator_ = !etag.empty() && etag.compare(0, 2, "W/") != 0 ? etag : QueryText(url_.Get(), HTTP_QUERY_LAST_MODIFIED);
        const std::string range = QueryText(url_.Get(), HTTP_QUERY_CONTENT_RANGE);
        if (status_ == 206 && range.compare(0, 6, "bytes ") == 0) {
            char* stop = nullptr;
            const long long first = std::strtoll(range.c_str() + 6, &stop, 10);
            if (stop && *stop == '-' && first >= 0) rangeStart_ = first;
        }
    }

    bool Read(void* buffer, size_t count, size_t* received) override {
        DWORD got = 0;
        DWORD ask = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
        BOOL ok = win32::WinInet().InternetReadFile(url_.Get(), buffer, ask, &got);
        *received = ok ? got : 0;
        if (!ok) return false;
        delivered_ += got;
        // A server that closes the connection cleanly in mid-body ends it early without an error:
        // a body shorter than its announced length was cut.
        return got != 0 || announced_ < 0 || delivered_ >= announced_;
    }

    int Status() const override { return status_; }
    std::string Validator() const override { return validator_; }
    int64_t RangeStart() const override { return rangeStart_; }

private:
    int status_ = 0;
    std::string validator_;
    int64_t rangeStart_ = -1;
    // The URL handle is closed before the root handle (members go in reverse order).
    win32::InternetHandle root_;
    win32::InternetHandle url_;
    int64_t announced_; // the Content-Length, or -1 when the response has none
    int64_t delivered_ = 0;
};

// The response's Content-Length, or -1 when it has none.
int64_t AnnouncedLength(HINTERNET url) {
    char text[32];
    DWORD size = sizeof text, index = 0;
    if (!win32::WinInet().HttpQueryInfoA(url, HTTP_QUERY_CONTENT_LENGTH, text, &size, &index)) return -1;
    int64_t length = 0;
    for (DWORD i = 0; i < size; ++i) {
        if (text[i] < '0' || text[i] > '9') return -1;
        length = length * 10 + (text[i] - '0');
    }
    return size > 0 ? length : -1;
}

} // namespace

void SetHttpStallTimeout(int seconds) { stallSeconds = seconds; }

std::unique_ptr<HttpBody> OpenUrl(const std::string& url, const HttpRequest& request) {
    const win32::TWinInetApi& api = win32::WinInet();
    win32::InternetHandle root(api.InternetOpenA("ViDiduzeDuzozod", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!root.Get()) return nullptr;
    DWORD timeout = static_cast<DWORD>(stallSeconds.load()) * 1000;
    api.InternetSetOptionA(root.Get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
    // A request for the rest of a body bypasses the cache altogether: a cached whole body would answer it.
    std::string headers;
    DWORD flags = 0;
    if (request.rangeFrom >= 0) {
        headers = "Range: bytes=" + std::to_string(request.rangeFrom) + "-\r\n";
        if (!request.ifRange.empty()) headers += "If-Range: " + request.ifRange + "\r\n";
        flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
    }
    win32::InternetHandle handle(api.InternetOpenUrlA(root.Get(), url.c_str(), headers.empty() ? nullptr : headers.c_str(),
                                                      headers.empty() ? 0 : static_cast<DWORD>(-1), flags, 0));
    if (!handle.Get()) return nullptr;
    api.DeleteUrlCacheEntryA(url.c_str());
    const int64_t announced = AnnouncedLength(handle.Get());
    return std::make_unique<WinInetBody>(std::move(root), std::move(handle), announced);
}

} // namespace platform
