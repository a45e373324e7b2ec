// Fetching one listed file's payload, the one way every path of the install pass (at an entry's turn,
// ahead of it, the self-update) and vandrel-publish --verify take: from its classic address beside the
// list, or, in sets published with objects, as its object from the run's sources (mirrors first),
// checked against its name before it is kept.
#pragma once

#include "platform/Platform.h"
#include "support/Download.h"
#include "support/Objects.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class TSources;

// Where an entry's payload comes from, and how much of it may be kept.
struct TPayloadSource {
    std::string url;                  // its classic address: the update URL, its list path, ".bz2"
    std::optional<TObjectRef> object; // its object (taken from sources when there is one)
    int64_t size = 0;                 // the list's size: more than this is never kept (0: no bound)
};

// A listed file's payload beside it (its name + ".bz2"), as a name in the file's folder.
platform::OwnName PayloadBeside(const std::string& localFile);

// Fetches the payload into target. With resumable, target is a part of the launcher's own that a
// download cut short leaves for a later attempt or run to go on from; else a file created anew (and
// removed again when the download fails). onHave(bytes) tells how much of the payload is there, from
// the bytes a part already held. stop breaks a fetch off, as a cut body.
// Complete: target holds the payload (an object's checked against its name). CannotOpen: no source
// could be reached. Damaged: sources answered, none with the object's bytes. Cut: broken off, stopped,
// or (classic) a body cut short. TooLarge: (classic) longer than the list's size. CannotCreate: the
// file cannot be made. Raises EInOutError when a write fails, after removing what was written.
TDownloadResult FetchPayload(const TPayloadSource& source, TSources* sources, const platform::OwnName& target,
                             bool resumable, const std::function<void(int64_t)>& onHave,
                             const std::atomic<bool>& stop);
