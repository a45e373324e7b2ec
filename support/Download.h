// The one loop that copies an HTTP body into a local file: the update worker's downloads and
// vandrel-publish --verify both fetch through it.
#pragma once

#include "platform/Platform.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

enum class TDownloadResult {
    Complete,     // the whole body is in the local file, which is closed
    CannotOpen,   // the URL cannot be opened; the local file was not touched
    CannotCreate, // the local file cannot be created (missing folder, name too long, no rights)
    Cut,          // the body broke off or stalled; no local file is left
    TooLarge,     // the body passed the bound its caller set; nothing of it is kept
    Damaged,      // sources answered, but none with the bytes the list names (objects only)
};

// Opens the URL, then creates (or empties) the local file and copies the body into it, reading the
// network straight into 256 KiB buffers and writing each one as it fills. onPiece, when given, is
// called with the size of every piece read, and once more with 0 at the end of the body. A failed
// write raises EInOutError (WriteFault) and leaves the partly written file.
// With maxBytes above 0, a body longer than that (an endless one included) ends with TooLarge as soon
// as it passes the bound, and no local file is left. status, when given, receives the HTTP status of
// an answer that came (0 when the system does not tell).
[[nodiscard]] TDownloadResult DownloadToFile(const std::string& url, const std::string& localPath,
                               const std::function<void(size_t)>& onPiece = {}, int64_t* received = nullptr,
                               int64_t maxBytes = 0, int* status = nullptr);

// A download that can go on where an earlier one broke off. The body goes to the part; while it is
// incomplete, the validator the server gave the body (ETag or Last-Modified, when it is a short line of
// printable characters) is kept beside it. A later call with the same part asks only for the rest
// (Range, validated by If-Range); a server that answers with the whole body instead (it ignores ranges,
// or the file changed) gets it written from the start, and one that has no such range (416) is asked
// for the whole body. The part and its validator are files of the launcher's own: neither is ever read
// or written through a link. onPiece is first told the bytes already there. Complete: the part holds
// the whole body. Cut or CannotOpen: the part stays for the next call when the server named the body,
// and goes otherwise. With maxBytes above 0, the part never holds more than that: a longer part is
// discarded, and a body that would pass the bound ends with TooLarge, the part gone. A failed write
// raises EInOutError once the part and its validator are removed.
[[nodiscard]] TDownloadResult DownloadResumable(const std::string& url, const platform::OwnName& part,
                                                const std::function<void(size_t)>& onPiece = {},
                                                int64_t maxBytes = 0);

// Reads a small body into memory: a body of more than maxBytes (an endless one included) is refused
// with TooLarge as soon as it passes the bound, and nothing is written anywhere.
[[nodiscard]] TDownloadResult DownloadToMemory(const std::string& url, size_t maxBytes, std::string* body);
