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

// Beside a resumable part: the validator of the body it holds the start of.
constexpr char kValidatorSuffix[] = ".tag";


// Copies a body into an open file: Complete, Cut (the body broke off) or TooLarge (past maxBytes).
// A failed write raises EInOutError.
TDownloadResult CopyBody(platform::HttpBody& body, platform::File& file, const std::function<void(size_t)>& onPiece,
                         int64_t* received, int64_t maxBytes) {
    // The body is read in large pieces straight into the write buffer; each piece is reported as
    // it arrives, so the per-file gauge moves as bytes come in.
    std::vector<char> buffer(kDownloadBufferBytes);
    size_t filled = 0;
    int64_t total = 0;
    for (;;) {
        size_t got = 0;
        if (!body.Read(buffer.data() + filled, buffer.size() - filled, &got)) {
            file.Write(buffer.data(), filled); // what came before the break, for a resumable part
            return TDownloadResult::Cut;
        }
        filled += got;
        total += static_cast<int64_t>(got);
        if (maxBytes > 0 && total > maxBytes) return TDownloadResult::TooLarge;
        if (filled == buffer.size() || (got == 0 && filled > 0)) {
            file.Write(buffer.data(), filled);
            filled = 0;
        }
        if (received) *received += static_cast<int64_t>(got);
        if (onPiece) onPiece(got);
        if (got == 0) return TDownloadResult::Complete;
    }
}

} // namespace

TDownloadResult DownloadToFile(const std::string& url, const std::string& localPath,
                               const std::function<void(size_t)>& onPiece, int64_t* received, int64_t maxBytes) {
    if (received) *received = 0;
    std::unique_ptr<platform::HttpBody> body = platform::OpenUrl(url);
    if (!body) return TDownloadResult::CannotOpen;
    platform::File file = platform::File::TryCreate(localPath);
    if (!file.IsOpen()) return TDownloadResult::CannotCreate;
    const TDownloadResult result = CopyBody(*body, file, onPiece, received, maxBytes);
    body.reset();
    if (result != TDownloadResult::Complete) {
        file = platform::File();
        platform::RemoveFile(localPath); // a body cut short is no download
        return result;
    }
    file.Close();
    return result;
}

TDownloadResult DownloadResumable(const std::string& url, const std::string& partPath,
                                  const std::function<void(size_t)>& onPiece) {
    const std::string tagPath = partPath + kValidatorSuffix;
    // The part goes on only where the server named its body when it began.
    std::string validator;
    platform::File part;
    int64_t have = 0;
    if (platform::IsFile(partPath) && platform::IsFile(tagPath)) {
        try {
            platform::File tag = platform::File::OpenRead(tagPath);
            char text[512];
            validator.assign(text, tag.Read(text, sizeof text));
            part = platform::File::OpenAppend(partPath);
            have = part.Size();
        } catch (const Exception&) {
            validator.clear();
            part = platform::File();
        }
    }
    platform::HttpRequest request;
    if (part.IsOpen() && !validator.empty()) {
        request.rangeFrom = have;
        request.ifRange = validator;
    }
    std::unique_ptr<platform::HttpBody> body = platform::OpenUrl(url, request);
    if (!body) return TDownloadResult::CannotOpen; // the part stays for the next attempt
    const bool goesOn = request.rangeFrom >= 0 && body->Status() == 206 && body->RangeStart() == have;
    try {
        if (!goesOn) {
            // The whole body (the server ignores ranges, or the file changed): the part starts over, and
            // keeps the new body's name for a later attempt.
            part = platform::File();
            platform::RemoveFile(tagPath);
            part = platform::File::Create(partPath);
            have = 0;
            if (!body->Validator().empty()) {
                platform::File tag = platform::File::Create(tagPath);
                const std::string text = body->Validator();
                tag.Write(text.data(), text.size());
                tag.Close();
            }
        }
    } catch (const EFCreateError&) {
        return TDownloadResult::CannotCreate;
    }
    if (onPiece && have > 0) onPiece(static_cast<size_t>(have)); // the gauge starts where the part ends
    const TDownloadResult result = CopyBody(*body, part, onPiece, nullptr, 0);
    body.reset();
    part.Close();
    if (result == TDownloadResult::Complete) {
        platform::RemoveFile(tagPath);
    } else if (!platform::IsFile(tagPath)) {
        platform::RemoveFile(partPath); // nothing names this body: a later attempt could not go on
    }
    return result;
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
