// Installing a large file from chunks, in sets published with them: the player's old version lends
// every chunk it still has, only the others are fetched (over several connections), and the new file
// is assembled beside the old one and checked against the list's MD5 before it takes the old one's
// place. Chunks fetched by a run that was cut short stay in the entry's resume folder for the next.
// Everything here comes from the server and is bounded before it is used: the index's sizes, the
// chunks' lengths, the memory of the connections and of the old file's chunk map.
#pragma once

#include "platform/Platform.h"
#include "support/ChunkIndex.h"
#include "support/InstallFolder.h"
#include "support/ListAdditions.h"
#include "support/Objects.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TSources;

struct TDeltaSource {
    std::string baseUrl;   // the update base URL, ending with "/"
    std::string listPath;  // the file as the list names it
    std::string digest;    // the list's MD5 of the new version
    std::string localPath; // the old version, if any, and where the new one goes
    TOwnFolder resume;     // the entry's own folder for the index and fetched chunks
    // In sets published with objects: where the index and the chunks come from (mirrors first), and
    // the index's object; else the index beside the payload and the chunks from baseUrl.
    TSources* sources = nullptr;
    std::optional<TObjectRef> indexObject;
    int64_t payloadSize = 0; // what the payload would cost: chunks that cost as much are not fetched
};

class TDeltaInstall {
public:
    enum class TFetched {
        NoIndex,    // no usable index for this version of the file
        NotCheaper, // the chunks to fetch would cost no less than the payload
        Ready,      // every chunk is at hand: Assemble may run
        Failed,  // a chunk did not come as its index names it (missing, refused, too long, another
                 // hash), or the run was told to end; the index is dropped, the payload is to be fetched
    };

    // Whether chunks are a way for an entry: its index is to be had (a set with objects names it), or
    // in a classic set its old file is large enough to lend chunks (Worthwhile).
    static bool Offered(bool setHasObjects, const TFileObjects* objects, const std::string& localPath);
    static bool Worthwhile(const std::string& localPath);

    // connections chunks are fetched at once (fewer where the index's chunks are large: see
    // ConnectionsFor); threads name the old file's chunks. Loops over the index's entries end early
    // once terminated is set.
    TDeltaInstall(TDeltaSource source, unsigned connections, unsigned threads, const std::atomic<bool>& terminated);
    ~TDeltaInstall();
    TDeltaInstall(const TDeltaInstall&) = delete;
    TDeltaInstall& operator=(const TDeltaInstall&) = delete;

    // Fetches the index (or takes the one a cut run left) and the chunks neither the old file nor an
    // earlier run has. onProgress(done, total) runs on the calling thread: first in bytes of the old
    // file as it is cut into chunks, then (from 0 again) in compressed bytes of the chunks fetched.
    TFetched Fetch(const std::function<void(int64_t done, int64_t total)>& onProgress);

    // Writes the new file into output in order, each chunk from the old file or from those fetched.
    // onProgress(done, total) in bytes of the file. Raises Exception when the result is not the file
    // the list names (its MD5 or size), when the run is told to end, or what reading and writing raise;
    // the entry's resume folder then goes, since something in it was wrong.
    void Assemble(platform::File& output, const std::function<void(int64_t done, int64_t total)>& onProgress);

    // Connections that fit the memory budget for chunks of at most maxChunk bytes: each holds a chunk's
    // stored form and its bytes at once, and all of them together stay within kConnectionMemory.
    static unsigned ConnectionsFor(unsigned wanted, uint32_t maxChunk);
    static constexpr uint64_t kConnectionMemory = 64 << 20;

private:
    // One chunk of the old file: kept sorted by id, so finding one costs the same whatever ids the
    // server chose.
    struct TOldChunk {
        TChunkId id;
        uint64_t offset;
        uint32_t size;
        bool operator<(const TOldChunk& other) const { return id < other.id; }
    };
    bool OpenIndex();
    bool FetchIndex();
    void DropIndex();
    void MapOldFile(const std::function<void(int64_t, int64_t)>& onProgress);
    const TOldChunk* OldChunk(const TChunkId& id) const;
    platform::OwnName Fetched(const TChunkId& id) const;
    TFetched FetchMissing(const std::function<void(int64_t, int64_t)>& onProgress);

    TDeltaSource source_;
    unsigned connections_, threads_;
    const std::atomic<bool>& terminated_;
    platform::OwnName indexName_;
    std::string indexPath_;
    std::unique_ptr<class TFileStream> indexFile_;
    std::unique_ptr<TChunkIndexReader> index_;
    std::vector<TOldChunk> old_;
    std::vector<TChunkEntry> missing_;
};
