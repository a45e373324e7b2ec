// Publishing an update set: turns a client folder into files.lst.bz2 and one bzip2 payload per file,
// in a folder that any static HTTP server can serve to the launcher.
#pragma once

#include "support/ChunkConstants.h"
#include "tools/publish/PublishNames.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace publish {


struct PublishOptions {
    std::string clientDir;
    std::string outDir;
    std::vector<std::string> critical; // patterns of the files checked on every update run
    std::vector<std::string> exclude;  // patterns of files left out
    std::string selfName;              // the launcher's exe in the client's root folder; empty: none
    std::string hostsFile;             // hosts entries to publish; empty: none
    bool modHosts = false;             // tell launchers to apply the hosts entries
    std::optional<int32_t> revision;   // default: one above the published revision
    bool allowCp1251 = false;          // non-ASCII names, written in code page 1251
    unsigned threads = 0;              // compression threads; 0: one per core
    std::string signingKeyFile;        // secret key to sign the list with; empty: unsigned
    bool chunks = false;               // also publish large files as chunks, with one chunk index each
    uint64_t chunkMinFile = kDefaultChunkMinFile; // the size from which a file goes into chunks
    std::vector<std::string> mirrors;  // base URLs of copies of the set, asked before the update URL
    int keep = 2;                      // lists whose objects stay: this one and the ones before it
    std::optional<bool> patches;       // patches to changed files from earlier versions (default: chunks)
    int patchFromRevisions = 1;        // from this many earlier versions of each changed file
    bool Patches() const { return patches.value_or(chunks); }
};

struct PublishProgress {
    const char* stage; // "reading", "compressing" or "chunking"
    size_t filesDone = 0, filesTotal = 0;
    uint64_t bytesDone = 0, bytesTotal = 0;
};

struct PublishSummary {
    int32_t revision = 0;
    bool listWritten = false; // false: nothing changed, the published list stays as it is
    size_t files = 0;         // listed files, the launcher's exe included
    size_t compressed = 0;    // payloads written by this run
    size_t reused = 0;        // payloads kept from the set already published
    size_t removed = 0;       // payloads of files that left the client
    uint64_t inputBytes = 0;  // bytes compressed by this run
    uint64_t payloadBytes = 0;
    bool staleSignatureRemoved = false; // published unsigned over a signed set: its signature went
    size_t chunkedFiles = 0;        // files with a chunk index in this revision
    size_t chunksWritten = 0;       // chunks this run added to the store
    size_t chunksReused = 0;        // chunks of this revision that the store already held
    size_t chunkIndexesWritten = 0; // indexes this run wrote (new or changed files)
    size_t chunkIndexesRemoved = 0; // indexes of files no longer published in chunks
    size_t chunksRemoved = 0;       // chunks that no list kept names
    size_t objectsRemoved = 0;      // objects that no list kept names
    size_t patchesWritten = 0;      // patches this run added
    size_t patchedFiles = 0;        // files with at least one patch in this revision
};

// Why a --chunk-min-file is refused, or "" when it is not: launchers never look at chunks for a file
// under kLeastChunkedFileBytes, so a smaller bound would only fill the store.
std::string ChunkMinFileProblem(uint64_t bytes);

// Publishes clientDir into outDir. Throws EPublishError (or the launcher's I/O errors) with a message
// for the operator; nothing that launchers read changes unless every payload has been written.
PublishSummary Publish(const PublishOptions& options,
                       const std::function<void(const PublishProgress&)>& progress = {});

} // namespace publish
