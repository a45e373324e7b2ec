// Patches from an earlier version of a file to a new one: one zstd frame compressed with the earlier
// version as its prefix (a long window, so matches reach back into all of it), which only that
// version turns back into the new one. A rebuilt program moves its code and addresses throughout,
// so almost every chunk of it changes, while a patch carries only what is new.
#pragma once

#include "platform/Errors.h"
#include "support/Stream.h"

#include <cstdint>
#include <functional>
#include <string>

class TMD5Context;

// The largest earlier and new versions a patch is made for: a launcher holds the earlier version in
// its address space and the new one in zstd's window while it applies a patch, and the 32-bit exe
// keeps that well under 1 GiB.
constexpr int64_t kMaxPatchFileBytes = int64_t(256) << 20;

// The zstd level of the patches vandrel-publish writes (chosen by the patch benchmarks).
constexpr int kPatchLevel = 19;

class EPatchError : public Exception {
public:
    explicit EPatchError(const std::string& why) : Exception("The patch is not usable: " + why) {}
};

// A patch that makes fresh from old. threads above 1 compress on that many threads where the library
// can. Raises EPatchError when the library fails.
std::string MakePatch(const void* old, size_t oldSize, const void* fresh, size_t freshSize, int level,
                      unsigned threads = 1);

// Applies a patch to old, writing the new file into target (and into digest); onProgress(done, total)
// in bytes of the new file. Raises EPatchError for a patch that is not one (damaged, cut, made from
// another version, a new file past kMaxPatchFileBytes), or what writing raises.
void ApplyPatch(const std::string& patch, const void* old, size_t oldSize, TStream& target, TMD5Context& digest,
                const std::function<void(int64_t done, int64_t total)>& onProgress);
