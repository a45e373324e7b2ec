#include "support/Download.h"

#include "platform/Platform.h"
#include "support/Errors.h"

#include <memory>

TDownloadResult DownloadToFile(const std::string& url, const std::string& localPath,
                               const std::function<void(size_t)>& onPiece, int64_t* received) {
    if (received) *received = 0;
    std::unique_ptr<platform::HttpBody> body = platform::OpenUrl(url);
    if (!body) return TDownloadResult::CannotOpen;
    platform::File file;
    try {
        file = platform::File::Create(localPath);
    } catch (const Exception&) {
        return TDownloadResult::CannotCreate;
    }
    std::string pending;
    pending.reserve(64 * 1024 + 1024);
    char piece[1024];
    for (;;) {
        size_t got = 0;
        if (!body->Read(piece, sizeof piece, &got)) {
            file = platform::File();
            platform::RemoveFile(localPath); // a body cut short is no download
            return TDownloadResult::Cut;
        }
        pending.append(piece, got);
        if (pending.size() >= 64 * 1024 || (got == 0 && !pending.empty())) {
            file.Write(pending.data(), pending.size());
            pending.clear();
        }
        if (received) *received += static_cast<int64_t>(got);
        if (onPiece) onPiece(got);
        if (got == 0) break;
    }
    body.reset();
    file.Close();
    return TDownloadResult::Complete;
}
