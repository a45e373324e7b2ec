// HTTP through libcurl, read pull-style: the transfer is driven only while the reader asks for bytes,
// and paused while unread data piles up, so memory stays bounded whatever the body's size.
#include "platform/Platform.h"

#include <curl/curl.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace platform {
namespace {

constexpr size_t kHighWater = 256 * 1024;
constexpr curl_off_t kLargePiece = 256 * 1024; // how much of a fast server's body wakes a waiting reader
constexpr int kLargePieceWaitMs = 250;           // how long a large piece may take before the server is slow
std::atomic<long> stallSeconds{60}; // a body that delivers nothing for this long has failed

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

class CurlBody final : public HttpBody {
public:
    CurlBody() : multi_(curl_multi_init()), easy_(curl_easy_init()) {}
    ~CurlBody() override {
        if (multi_ && easy_) curl_multi_remove_handle(multi_, easy_);
        if (easy_) curl_easy_cleanup(easy_);
        if (multi_) curl_multi_cleanup(multi_);
        if (headers_) curl_slist_free_all(headers_);
    }

    // Sends the request and waits for the response head. False when the URL cannot be opened.
    bool Open(const std::string& url, const HttpRequest& request) {
        if (!multi_ || !easy_) return false;
        curl_easy_setopt(easy_, CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy_, CURLOPT_USERAGENT, "ViDiduzeDuzozod");
        curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy_, CURLOPT_BUFFERSIZE, 512L * 1024);
        curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT, 60L);
        curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_TIME, stallSeconds.load());
        curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &CurlBody::OnBody);
        curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(easy_, CURLOPT_SOCKOPTFUNCTION, &CurlBody::OnSocket);
        curl_easy_setopt(easy_, CURLOPT_SOCKOPTDATA, this);
        curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &CurlBody::OnHeader);
        curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
        if (request.rangeFrom >= 0) {
            const std::string range = std::to_string(request.rangeFrom) + "-";
            curl_easy_setopt(easy_, CURLOPT_RANGE, range.c_str()); // libcurl keeps its own copy
            if (!request.ifRange.empty()) {
                headers_ = curl_slist_append(nullptr, ("If-Range: " + request.ifRange).c_str());
                curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headers_);
            }
        }
        if (curl_multi_add_handle(multi_, easy_) != CURLM_OK) return false;
        while (!headComplete_ && !done_) Pump();
        return headComplete_;
    }

    bool Read(void* buffer, size_t count, size_t* received) override {
        *received = 0;
        if (pending_.size() == taken_ && count > 0) {
            // Nothing held back: the transfer writes straight into the reader's buffer.
            target_ = static_cast<char*>(buffer);
            targetSize_ = count;
            targetFilled_ = 0;
            while (targetFilled_ == 0 && pending_.size() == taken_ && !done_) Pump();
            target_ = nullptr;
            if (targetFilled_ > 0) {
                *received = targetFilled_;
                return true;
            }
        }
        size_t available = pending_.size() - taken_;
        if (available == 0) return result_ == CURLE_OK; // the end, or a failed transfer
        size_t n = available < count ? available : count;
        std::memcpy(buffer, pending_.data() + taken_, n);
        taken_ += n;
        if (taken_ == pending_.size()) {
            pending_.clear();
            taken_ = 0;
        }
        *received = n;
        return true;
    }

    int Status() const override {
        long code = 0;
        curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &code);
        return static_cast<int>(code);
    }
    std::string Validator() const override {
        const bool weak = etag_.compare(0, 2, "W/") == 0;
        return !etag_.empty() && !weak ? etag_ : lastModified_;
    }
    int64_t RangeStart() const override { return Status() == 206 ? rangeStart_ : -1; }

private:
    static size_t OnBody(char* data, size_t size, size_t items, void* self) {
        auto* body = static_cast<CurlBody*>(self);
        if (body->pending_.size() - body->taken_ >= kHighWater) {
            body->paused_ = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        body->headComplete_ = true;
        size_t length = size * items;
        body->bodyBytes_ += static_cast<curl_off_t>(length);
        if (body->target_) {
            // What fits goes to the reader's buffer; the rest waits in pending_.
            const size_t room = body->targetSize_ - body->targetFilled_;
            const size_t n = length < room ? length : room;
            std::memcpy(body->target_ + body->targetFilled_, data, n);
            body->targetFilled_ += n;
            data += n;
            length -= n;
        }
        body->pending_.append(data, length);
        return size * items;
    }

    static int OnSocket(void* self, curl_socket_t socket, curlsocktype) {
        auto* body = static_cast<CurlBody*>(self);
        body->socket_ = socket; // the connection a redirect leads to replaces the last one
        body->wakeMark_ = 1;
        return CURL_SOCKOPT_OK;
    }

    static size_t OnHeader(char* data, size_t size, size_t items, void* self) {
        auto* body = static_cast<CurlBody*>(self);
        size_t length = size * items;
        body->NoteHeader(std::string(data, length));
        bool blank = length <= 2 && (length == 0 || data[0] == '\r' || data[0] == '\n');
        if (blank) {
            long code = 0;
            curl_easy_getinfo(body->easy_, CURLINFO_RESPONSE_CODE, &code);
            bool redirect = code >= 300 && code < 400 && code != 304;
            if (code >= 200 && !redirect) body->headComplete_ = true;
        }
        return length;
    }

    // Keeps the headers a resumed download needs, of the last response (a redirect's are dropped).
    void NoteHeader(const std::string& line) {
        if (line.compare(0, 5, "HTTP/") == 0) {
            etag_.clear();
            lastModified_.clear();
            rangeStart_ = -1;
            return;
        }
        const size_t colon = line.find(':');
        if (colon == std::string::npos) return;
        std::string name = line.substr(0, colon);
        for (char& c : name) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        size_t start = line.find_first_not_of(" \t", colon + 1);
        size_t end = line.find_last_not_of(" \t\r\n");
        const std::string value = start == std::string::npos || end < start ? "" : line.substr(start, end - start + 1);
        if (name == "etag") etag_ = value;
        if (name == "last-modified") lastModified_ = value;
        if (name == "content-range" && value.compare(0, 6, "bytes ") == 0) {
            char* stop = nullptr;
            const long long first = std::strtoll(value.c_str() + 6, &stop, 10);
            rangeStart_ = stop && *stop == '-' && first >= 0 ? first : -1;
        }
    }

    void Pump() {
        if (paused_ && pending_.size() - taken_ < kHighWater) {
            paused_ = false;
            curl_easy_pause(easy_, CURLPAUSE_CONT);
        }
        int running = 0;
        const size_t before = pending_.size() + targetFilled_;
        curl_multi_perform(multi_, &running);
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
            if (message->msg == CURLMSG_DONE) {
                done_ = true;
                result_ = message->data.result;
            }
        }
        if (!done_ && pending_.size() + targetFilled_ == before && !paused_) Wait();
    }

    // Waits until the socket has more of the body (or libcurl's next timer is due). A reader woken for
    // every packet of a fast server spends more on waking than on reading, so while more of the body is
    // known to come, the socket reports readable only once a large piece, or the whole rest, is there.
    // A server too slow to fill that piece within a short wait gets the reader woken for every packet
    // again, for the rest of the body: its bytes then count for the stall check as they arrive. That
    // wait is counted from the last bytes that arrived, not per poll: libcurl's own timers end polls early.
    void Wait() {
        SetWakeMark(slowServer_ ? 1 : LargePiece());
        const auto now = std::chrono::steady_clock::now();
        if (bodyBytes_ != bytesWhenWaitBegan_) {
            bytesWhenWaitBegan_ = bodyBytes_;
            waitBegan_ = now;
        }
        const auto limit = waitBegan_ + std::chrono::milliseconds(kLargePieceWaitMs);
        if (wakeMark_ > 1 && now >= limit) {
            slowServer_ = true;
            SetWakeMark(1);
        }
        const bool large = wakeMark_ > 1;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(limit - now).count() + 1;
        curl_multi_poll(multi_, nullptr, 0, large ? static_cast<int>(left) : 1000, nullptr);
    }

    // The size of the next large piece: 256 KiB, or the rest of a body announced shorter; 1 while the
    // length is unknown.
    int LargePiece() {
        curl_off_t length = -1;
        if (!headComplete_ || curl_easy_getinfo(easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK ||
            length <= bodyBytes_)
            return 1;
        const curl_off_t rest = length - bodyBytes_;
        return static_cast<int>(rest < kLargePiece ? rest : kLargePiece);
    }

    void SetWakeMark(int bytes) {
        if (bytes == wakeMark_ || socket_ == CURL_SOCKET_BAD) return;
        if (setsockopt(socket_, SOL_SOCKET, SO_RCVLOWAT, &bytes, sizeof bytes) == 0) wakeMark_ = bytes;
    }

    CURLM* multi_;
    CURL* easy_;
    std::string pending_;
    size_t taken_ = 0;
    char* target_ = nullptr; // the reader's buffer while a Read waits for the transfer
    size_t targetSize_ = 0;
    size_t targetFilled_ = 0;
    bool paused_ = false;
    curl_off_t bodyBytes_ = 0; // of the final response, as the transfer handed them over
    curl_socket_t socket_ = CURL_SOCKET_BAD; // the connection opened last
    int wakeMark_ = 1;                       // its low-water mark: the bytes that make it readable
    bool slowServer_ = false;
    curl_off_t bytesWhenWaitBegan_ = -1;
    std::chrono::steady_clock::time_point waitBegan_;
    curl_slist* headers_ = nullptr;
    std::string etag_, lastModified_;
    int64_t rangeStart_ = -1;
    bool headComplete_ = false;
    bool done_ = false;
    CURLcode result_ = CURLE_OK;
};

} // namespace

void SetHttpStallTimeout(int seconds) { stallSeconds = seconds; }

std::unique_ptr<HttpBody> OpenUrl(const std::string& url, const HttpRequest& request) {
    GlobalInit();
    auto body = std::make_unique<CurlBody>();
    if (!body->Open(url, request)) return nullptr;
    return body;
}

} // namespace platform
