#include "support/Download.h"

#include "platform/Platform.h"
#include "platform/Errors.h"

#include <memory>
#include <vector>

namespace {

// The body is written in 256 KiB pieces on the thread that reads it. Handing each piece to a writer
// thread of its own was measured slower: on two cores the server and the receive already keep both busy,
// and the extra wake-ups cost more than the overlap gained.
constexpr size_t kDownloadBufferBytes = 256 * 1024;

} // namespace

TDownloadResult DownloadToFile(const std::string& url, const std::string& localPath,
                               const std::function<void(size_t)>& onPiece, int64_t* received, int64_t maxBytes) {
    if (received) *received = 0;
    int64_t total = 0;
    std::unique_ptr<platform::HttpBody> body = platform::OpenUrl(url);
    if (!body) return TDownloadResult::CannotOpen;
    platform::File file;
    try {
        file = platform::File::Create(localPath);
    } catch (const Exception&) {
        return TDownloadResult::CannotCreate;
    }
    // The body is read in large pieces straight into the write buffer; each piece is reported as
    // it arrives, so the per-file gauge moves as bytes come in.
    std::vector<char> buffer(kDownloadBufferBytes);
    size_t filled = 0;
    for (;;) {
        size_t got = 0;
        if (!body->Read(buffer.data() + filled, buffer.size() - filled, &got)) {
            file = platform::File();
            platform::RemoveFile(localPath); // a body cut short is no download
            return TDownloadResult::Cut;
        }
        filled += got;
        total += static_cast<int64_t>(got);
        if (maxBytes > 0 && total > maxBytes) {
            file = platform::File();
            platform::RemoveFile(localPath);
            return TDownloadResult::TooLarge;
        }
        if (filled == buffer.size() || (got == 0 && filled > 0)) {
            file.Write(buffer.data(), filled);
            filled = 0;
        }
        if (received) *received += static_cast<int64_t>(got);
        if (onPiece) onPiece(got);
        if (got == 0) break;
    }
    body.reset();
    file.Close();
    return TDownloadResult::Complete;
}

TDownloadResult DownloadToMemory(const std::string& url, size_t maxBytes, std::string* body) {
    body->clear();
    std::unique_ptr<platform::HttpBody> source = platform::OpenUrl(url);
    if (!source) return TDownloadResult::CannotOpen;
    char piece[4096];
    for (;;) {
        size_t got = 0;
        if (!source->Read(piece, sizeof piece, &got)) {
            body->clear();
            return TDownloadResult::Cut;
        }
        if (got == 0) return TDownloadResult::Complete;
        if (body->size() + got > maxBytes) {
            body->clear();
            return TDownloadResult::TooLarge;
        }
        body->append(piece, got);
    }
}
