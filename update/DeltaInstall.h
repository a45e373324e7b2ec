// Installing a large file from chunks, in sets published with them: the player's old version lends
// every chunk it still has, only the others are fetched (over several connections), and the new file
// is assembled beside the old one and checked against the list's MD5 before it takes the old one's
// place. Chunks fetched by a run that was cut short stay in the entry's resume folder for the next.
#pragma once

#include "platform/Platform.h"
#include "support/ChunkIndex.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

struct TDeltaSource {
    std::string baseUrl;      // the update base URL, ending with "/"
    std::string listPath;     // the file as the list names it
    std::string digest;       // the list's MD5 of the new version
    std::string localPath;    // the old version, and where the new one goes
    std::string resumeFolder; // the entry's own folder (it exists) for the index and fetched chunks
};

class TDeltaInstall {
public:
    enum class TFetched {
        NoIndex,     // no usable index for this version of the file: the payload is fetched instead
        Ready,       // every chunk is at hand: Assemble may run
        ChunkFailed, // a chunk did not come as its index names it (missing, too long, another hash)
        CannotOpen,  // the server could not be reached for a chunk
    };

    // An old file smaller than this is never worth an index request.
    static constexpr int64_t kMinOldFileBytes = 1 << 20;
    static bool Worthwhile(const std::string& localPath);

    // connections chunks are fetched at once; threads name the old file's chunks.
    TDeltaInstall(TDeltaSource source, unsigned connections, unsigned threads);
    ~TDeltaInstall();
    TDeltaInstall(const TDeltaInstall&) = delete;
    TDeltaInstall& operator=(const TDeltaInstall&) = delete;

    // Fetches the index (or takes the one a cut run left) and the chunks neither the old file nor an
    // earlier run has. onProgress(done, total), in compressed bytes, runs on the calling thread.
    TFetched Fetch(const std::function<void(int64_t done, int64_t total)>& onProgress);

    // Writes the new file into output in order, each chunk from the old file or from those fetched.
    // onProgress(done, total) in bytes of the file. Raises Exception when the result is not the file
    // the list names (its MD5 or size), or what reading and writing raise; the entry's resume folder
    // then goes, since something in it was wrong.
    void Assemble(platform::File& output, const std::function<void(int64_t done, int64_t total)>& onProgress);

private:
    struct TOldChunk {
        uint64_t offset;
        uint32_t size;
    };
    bool OpenIndex();
    bool FetchIndex();
    void MapOldFile();
    std::string Fetched(const TChunkId& id) const;
    TFetched FetchMissing(const std::function<void(int64_t, int64_t)>& onProgress);

    TDeltaSource source_;
    unsigned connections_, threads_;
    std::string indexPath_;
    std::unique_ptr<class TFileStream> indexFile_;
    std::unique_ptr<TChunkIndexReader> index_;
    std::unordered_map<TChunkId, TOldChunk, TChunkIdHash> old_;
    std::vector<TChunkEntry> missing_;
};
