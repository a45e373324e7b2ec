// Installing a file from a patch: the player's version of the file (the check pass found its MD5)
// lends every byte the patch does not carry. The patch object is fetched from the run's sources and
// checked against its name, the old file is mapped as the patch's prefix, and the new file is written
// beside the old one and checked against the list's MD5 before it takes the old one's place.
#pragma once

#include "platform/Platform.h"
#include "support/ListAdditions.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

class TSources;

class TPatchInstall {
public:
    // Whether a patch from a local file of this size can be applied here at all.
    static bool Fits(int64_t oldSize);
    // The patch to take for a player's file of this MD5 (empty: none), when the set has one that costs
    // less than the payload and the file fits; null otherwise.
    static const TPatchRef* Offered(const TFileObjects& objects, const std::string& localDigest,
                                    const std::string& localPath, int64_t payloadSize);

    TPatchInstall(const TPatchRef& patch, std::string localPath, std::string digest, TSources& sources,
                  const std::atomic<bool>& stop);

    // Fetches the patch; false when no source had it as the list names it. onProgress(done, total) in
    // bytes of the patch.
    bool Fetch(const std::function<void(int64_t done, int64_t total)>& onProgress);
    // Writes the new file into output. onProgress(done, total) in bytes of the new file. Raises when the
    // patch does not apply to the old file, or the result is not the file the list names.
    void Apply(platform::File& output, const std::function<void(int64_t done, int64_t total)>& onProgress);

private:
    TPatchRef patch_;
    std::string localPath_, digest_;
    TSources& sources_;
    const std::atomic<bool>& stop_;
    std::string body_;
};
