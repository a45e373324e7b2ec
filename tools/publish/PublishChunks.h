// Delta updates, the publisher's side: with --chunks every large listed file is also published as
// content-defined chunks in the set's chunk store, with a chunk index beside its payload, so a launcher
// that holds an older version of the file fetches only the chunks it lacks. Chunks are named by their
// contents, written once and never rewritten; those that no index of this revision or the previous one
// names are deleted once the new list is in place.
#pragma once

#include "support/ChunkIndex.h"
#include "tools/publish/Publish.h"
#include "tools/publish/PublishList.h"
#include "tools/publish/PublishObjects.h"
#include "tools/publish/PublishScan.h"
#include "tools/publish/WorkerPool.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace publish {


// Refuses a listed file inside the chunk store's folder and, with chunks, a listed file whose chunk
// index would have the name of a folder that holds other listed files. Throws EPublishError naming it.
void CheckChunkNames(const std::vector<ClientFile>& files, bool chunks);

class ChunkPublisher {
public:
    // Reads the chunk indexes published beside the payloads of the list already in options.outDir:
    // the previous revision's, whose chunks stay for the launchers that fetched that list. Call it
    // before anything is written. Throws EPublishError for a chunk size below kLeastChunkedFileBytes.
    ChunkPublisher(const PublishOptions& options, const std::optional<UpdateList>& published, ObjectStore& store);

    // With chunks: cuts every file of at least the size whose published index cannot be kept, writes
    // the chunks the store lacks (compressed on the pool) and its index as an object, after all its
    // chunks; each index's classic name beside the payload is linked to it (see ObjectStore).
    // Throws EPublishError (a file that cannot be read or changed meanwhile) or the launcher's I/O errors.
    void Write(const std::vector<ClientFile>& files, WorkerPool& pool,
               const std::function<void(const PublishProgress&)>& progress);
    // The index object of a listed file in this revision, if it has one.
    std::optional<TObjectRef> IndexOf(const std::string& listPath) const;
    // Once the list is in place: deletes the indexes of listed or formerly listed files that have none
    // in this revision, then the chunks that no index of this revision, of the previous one, or of
    // `kept` (the lists the set keeps) names, and the folders left empty. What cannot be deleted stays
    // for the next run.
    void RemoveUnused(const std::vector<ClientFile>& files, const std::unordered_set<TChunkId, TChunkIdHash>& kept);

    void Report(PublishSummary& summary) const;

private:
    struct PublishedIndex {
        TChunkIndexHeader header;
        std::vector<TChunkEntry> entries;
    };
    struct InFlight {
        TChunkId id;
        std::future<std::string> compressed;
    };

    void ReadPrevious(const std::string& listPath);
    bool KeepIndex(const ClientFile& file);
    void ChunkOne(const ClientFile& file, WorkerPool& pool, PublishProgress& state,
                  const std::function<void(const PublishProgress&)>& progress);
    void Store(const TChunkId& id, uint32_t size, const uint8_t* bytes, WorkerPool& pool);
    void WriteOldest();
    void WriteIndex(const ClientFile& file, const TMD5Digest& md5, const std::vector<TChunkEntry>& entries);
    std::optional<uint32_t> StoredSize(const TChunkId& id, uint32_t chunkSize) const;
    void RemoveStaleIndex(const std::string& listPath);
    void RemoveUnusedChunks(const std::unordered_set<TChunkId, TChunkIdHash>& kept);

    const PublishOptions& options_;
    std::map<std::string, std::string> oldDigests_;  // the published list: path -> digest
    std::map<std::string, PublishedIndex> previous_; // its files' indexes that read valid
    std::unordered_set<TChunkId, TChunkIdHash> previousIds_;
    // This revision's chunks and their compressed sizes (0 while one is being compressed).
    std::unordered_map<TChunkId, uint32_t, TChunkIdHash> current_;
    std::set<std::string> chunked_; // list paths with an index in this revision, as Windows compares them
    std::map<std::string, TObjectRef> indexes_; // this revision's index objects, by list path
    std::deque<InFlight> window_;
    ObjectStore& store_;
    size_t written_ = 0, indexesWritten_ = 0, indexesRemoved_ = 0, chunksRemoved_ = 0;
};

} // namespace publish
