#include "support/Download.h"

#include "platform/Platform.h"
#include "platform/Errors.h"
#include "support/LauncherNames.h"

#include <memory>
#include <vector>

namespace {

// The body is written in 256 KiB pieces on the thread that reads it. Handing each piece to a writer
// thread of its own was measured slower: on two cores the server and the receive already keep both busy,
// and the extra wake-ups cost more than the overlap gained.
constexpr size_t kDownloadBufferBytes = 256 * 1024;

// The longest validator kept: an ETag or an HTTP date is far shorter.
constexpr size_t kMaxValidatorBytes = 256;


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
                               const std::function<void(size_t)>& onPiece, int64_t* received, int64_t maxBytes,
                               int* status) {
    if (received) *received = 0;
    std::unique_ptr<platform::HttpBody> body = platform::OpenUrl(url);
    if (!body) return TDownloadResult::CannotOpen;
    if (status) *status = body->Status();
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

namespace {

// A validator goes into the If-Range header as it is: only a short line of printable characters (an
// ETag or an HTTP date) is ever sent, or kept for a later request.
bool UsableValidator(const std::string& text) {
    if (text.empty() || text.size() > kMaxValidatorBytes) return false;
    for (unsigned char c : text)
        if (c < 0x20 || c > 0x7E) return false;
    return true;
}

// The part a cut download left, when it can go on: its validator is usable, the part is a file of the
// launcher's own (never reached through a link), and it is shorter than the whole body may be.
struct TPart {
    platform::File file;
    std::string validator;
    int64_t have = 0;
};
TPart OpenPart(const platform::OwnName& partName, const platform::OwnName& tagName, int64_t maxBytes) {
    TPart part;
    platform::File tag = platform::File::TryOpenOwnRead(tagName);
    if (!tag.IsOpen()) return part;
    char text[kMaxValidatorBytes + 1];
    size_t got = 0;
    try {
        for (size_t n; got < sizeof text && (n = tag.Read(text + got, sizeof text - got)) > 0;) got += n;
        part.validator.assign(text, got);
        if (!UsableValidator(part.validator)) return TPart();
        part.file = platform::File::OpenAppend(partName);
        part.have = part.file.Size();
    } catch (const Exception&) {
        return TPart();
    }
    if (maxBytes > 0 && part.have >= maxBytes) return TPart(); // longer than any cut part of this body
    return part;
}

void RemovePart(const std::string& partPath, const std::string& tagPath) {
    platform::RemoveFile(tagPath);
    platform::RemoveFile(partPath);
}

} // namespace

TDownloadResult DownloadResumable(const std::string& url, const platform::OwnName& partName,
                                  const std::function<void(size_t)>& onPiece, int64_t maxBytes) {
    const platform::OwnName tagName{partName.anchor, partName.relative + names::kResumeTagSuffix};
    const std::string partPath = partName.Path(), tagPath = tagName.Path();
    // The part goes on only where the server named its body when it began.
    TPart part = OpenPart(partName, tagName, maxBytes);
    if (!part.file.IsOpen()) RemovePart(partPath, tagPath);
    platform::HttpRequest request;
    if (part.file.IsOpen()) {
        request.rangeFrom = part.have;
        request.ifRange = part.validator;
    }
    std::unique_ptr<platform::HttpBody> body = platform::OpenUrl(url, request);
    if (body && request.rangeFrom >= 0 && body->Status() == 416) {
        // The server has no such range (the body changed, or the part is of another one): it starts over.
        body.reset();
        part = TPart();
        RemovePart(partPath, tagPath);
        request = platform::HttpRequest();
        body = platform::OpenUrl(url, request);
    }
    if (!body) return TDownloadResult::CannotOpen; // the part stays for the next attempt
    const bool goesOn = request.rangeFrom >= 0 && body->Status() == 206 && body->RangeStart() == part.have;
    try {
        if (!goesOn) {
            // The whole body (the server ignores ranges, or the file changed): the part starts over, and
            // keeps the new body's name for a later attempt.
            part = TPart();
            RemovePart(partPath, tagPath);
            part.file = platform::File::Create(partPath);
            if (UsableValidator(body->Validator())) {
                platform::File tag = platform::File::Create(tagPath);
                const std::string text = body->Validator();
                tag.Write(text.data(), text.size());
                tag.Close();
            }
        }
    } catch (const Exception&) {
        part = TPart();
        RemovePart(partPath, tagPath);
        return TDownloadResult::CannotCreate;
    }
    if (onPiece && part.have > 0) onPiece(static_cast<size_t>(part.have)); // the gauge starts where the part ends
    TDownloadResult result;
    try {
        result = CopyBody(*body, part.file, onPiece, nullptr, maxBytes > 0 ? maxBytes - part.have : 0);
        body.reset();
        part.file.Close();
    } catch (...) {
        // A write the disk refused: nothing of the body is kept, so a full disk does not stay full.
        part = TPart();
        RemovePart(partPath, tagPath);
        throw;
    }
    if (result == TDownloadResult::Complete) {
        platform::RemoveFile(tagPath);
    } else if (result == TDownloadResult::TooLarge || !platform::IsFile(tagPath)) {
        // Longer than the whole body may be, or nothing names this body: a later attempt could not go on.
        RemovePart(partPath, tagPath);
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
