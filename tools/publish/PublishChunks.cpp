#include "tools/publish/PublishChunks.h"

#include "platform/Platform.h"
#include "support/LauncherNames.h"
#include "support/Misc.h"
#include "support/SafeNames.h"
#include "support/Stream.h"
#include "support/md5.h"
#include "tools/publish/PublishFiles.h"

#include <algorithm>
#include <filesystem>
#include <memory>

namespace fs = std::filesystem;

namespace publish {

namespace {

std::string IndexPath(const std::string& outDir, const std::string& listPath) {
    return outDir + "\\" + listPath + names::kChunkIndexSuffix;
}

// Whether a file is large enough for chunks and small enough for an index to hold all of them (every
// chunk but the last has the minimum size, so this bounds the count).
bool WantsChunks(const ClientFile& file, uint64_t minFile) {
    return file.size >= minFile && file.size / kDefaultChunkParams.minSize + 1 <= kMaxIndexedChunks;
}

} // namespace

std::string ChunkMinFileProblem(uint64_t bytes) {
    if (bytes >= uint64_t(kLeastChunkedFileBytes)) return std::string();
    return "--chunk-min-file must be at least " + std::to_string(kLeastChunkedFileBytes >> 20) +
           "M: launchers never try chunks for an old file smaller than that";
}

void CheckChunkNames(const std::vector<ClientFile>& files, bool chunks) {
    std::set<std::string> folders; // of the listed files, as Windows compares them
    for (const ClientFile& file : files) {
        const std::string lower = FoldCase(file.listPath);
        for (const char* store : {names::kChunkStoreFolder, names::kObjectStoreFolder}) {
            const std::string folder = FoldCase(store) + "\\";
            if (lower.compare(0, folder.size(), folder) == 0)
                throw EPublishError("refusing \"" + file.listPath + "\": the folder " + store +
                                    " of an update set holds its chunks or objects; rename the client's folder or "
                                    "leave it out with --exclude");
        }
        for (size_t slash = lower.find('\\'); slash != std::string::npos; slash = lower.find('\\', slash + 1))
            folders.insert(lower.substr(0, slash));
    }
    if (!chunks) return;
    for (const ClientFile& file : files) {
        const std::string index = file.listPath + names::kChunkIndexSuffix;
        if (folders.count(FoldCase(index)))
            throw EPublishError("refusing \"" + file.listPath + "\": its chunk index " + index +
                                " would have the name of a folder that holds other listed files");
    }
}

ChunkPublisher::ChunkPublisher(const PublishOptions& options, const std::optional<UpdateList>& published,
                               ObjectStore& store)
    : options_(options), store_(store) {
    if (options.chunks && !ChunkMinFileProblem(options.chunkMinFile).empty())
        throw EPublishError(ChunkMinFileProblem(options.chunkMinFile));
    if (!published) return;
    for (const auto* section : {&published->critical, &published->normal})
        for (const ListEntry& entry : *section) oldDigests_.emplace(entry.path, entry.digest);
    if (published->self) oldDigests_.emplace(published->self->path, published->self->digest);
    for (const auto& [path, digest] : oldDigests_) ReadPrevious(path);
}

void ChunkPublisher::ReadPrevious(const std::string& listPath) {
    const std::string path = IndexPath(options_.outDir, listPath);
    if (!platform::IsFile(path)) return;
    PublishedIndex index;
    try {
        TFileStream source(path, TFileStream::Mode::OpenReadDenyWrite);
        TChunkIndexReader reader(source);
        index.header = reader.Header();
        for (TChunkEntry entry; reader.Next(entry);) index.entries.push_back(entry);
    } catch (const Exception&) {
        return; // launchers pass an unusable index by, and fetch none of its chunks
    }
    for (const TChunkEntry& entry : index.entries) previousIds_.insert(entry.id);
    previous_.emplace(listPath, std::move(index));
}

void ChunkPublisher::Write(const std::vector<ClientFile>& files, WorkerPool& pool,
                           const std::function<void(const PublishProgress&)>& progress) {
    if (!options_.chunks) return;
    std::vector<const ClientFile*> cut;
    for (const ClientFile& file : files) {
        if (!WantsChunks(file, options_.chunkMinFile)) continue;
        if (KeepIndex(file)) chunked_.insert(FoldCase(file.listPath));
        else cut.push_back(&file);
    }
    PublishProgress state{"chunking", 0, cut.size(), 0, 0};
    for (const ClientFile* file : cut) state.bytesTotal += file->size;
    for (const ClientFile* file : cut) {
        ChunkOne(*file, pool, state, progress);
        ++state.filesDone;
        if (progress) progress(state);
    }
}

// An unchanged file keeps its published index when the index describes it and every chunk it names is
// in the store at the size it records.
bool ChunkPublisher::KeepIndex(const ClientFile& file) {
    const auto old = oldDigests_.find(file.listPath);
    const auto index = previous_.find(file.listPath);
    if (old == oldDigests_.end() || old->second != file.digest || index == previous_.end()) return false;
    const TChunkIndexHeader& header = index->second.header;
    if (!(header.params == kDefaultChunkParams) || header.fileSize != file.size ||
        DigestToHex(header.md5) != file.digest)
        return false;
    for (const TChunkEntry& entry : index->second.entries) {
        const auto known = current_.find(entry.id);
        const uint32_t stored = known != current_.end() ? known->second : StoredSize(entry.id, entry.size).value_or(0);
        if (stored != entry.compressedSize) return false;
    }
    for (const TChunkEntry& entry : index->second.entries) current_.emplace(entry.id, entry.compressedSize);
    // Kept as it is, and as an object (a set published before objects gets it now).
    indexes_[file.listPath] = store_.PutFile(TObjectKind::Index, IndexPath(options_.outDir, file.listPath));
    return true;
}

void ChunkPublisher::ChunkOne(const ClientFile& file, WorkerPool& pool, PublishProgress& state,
                              const std::function<void(const PublishProgress&)>& progress) {
    TMD5Context digest;
    std::vector<TChunkEntry> entries;
    uint64_t total = 0;
    try {
        platform::File source = platform::File::OpenRead(file.sourcePath);
        ChunkFile(source, kDefaultChunkParams, pool.Size(),
                  [&](uint64_t, uint32_t size, const TChunkId& id, const uint8_t* bytes) {
                      digest.Update(bytes, size);
                      total += size;
                      entries.push_back({id, size, 0});
                      state.bytesDone += size;
                      if (progress) progress(state);
                      Store(id, size, bytes, pool);
                  });
        while (!window_.empty()) WriteOldest();
    } catch (const EPublishError&) {
        throw;
    } catch (const Exception& error) {
        throw EPublishError("cannot read " + file.sourcePath + ": " + error.what());
    }
    TMD5Digest md5;
    digest.Final(md5);
    if (total != file.size || DigestToHex(md5) != file.digest)
        throw EPublishError(file.sourcePath + " changed while it was being published; publish again");
    for (TChunkEntry& entry : entries) entry.compressedSize = current_.at(entry.id);
    WriteIndex(file, md5, entries);
}

// Sends a chunk the store lacks to the pool to be compressed; at most a few are in memory at once.
void ChunkPublisher::Store(const TChunkId& id, uint32_t size, const uint8_t* bytes, WorkerPool& pool) {
    if (current_.count(id)) return; // in the store, or on its way there
    if (std::optional<uint32_t> stored = StoredSize(id, size)) {
        current_.emplace(id, *stored);
        return;
    }
    while (window_.size() >= size_t(pool.Size()) * 2 + 2) WriteOldest();
    // The bytes are the chunker's only until its call returns.
    auto copy = std::make_shared<const std::string>(reinterpret_cast<const char*>(bytes), size);
    current_.emplace(id, 0);
    window_.push_back({id, pool.Submit([copy] { return CompressChunk(copy->data(), copy->size(), kChunkLevel); })});
}

// Stores the oldest chunk in flight under its name: written beside, then renamed, so a launcher never
// fetches a part of one.
void ChunkPublisher::WriteOldest() {
    InFlight chunk = std::move(window_.front());
    window_.pop_front();
    const std::string target = options_.outDir + "\\" + names::ChunkStorePath(chunk.id);
    try {
        const std::string compressed = chunk.compressed.get();
        MakeFoldersFor(target);
        platform::Replacement stored(target, names::kPublishTemporarySuffix);
        stored.Output().Write(compressed.data(), compressed.size());
        if (!stored.Commit()) throw EPublishError("cannot rename " + stored.TemporaryPath() + " to " + target);
        current_[chunk.id] = static_cast<uint32_t>(compressed.size());
        ++written_;
    } catch (const EPublishError&) {
        throw;
    } catch (const Exception& error) {
        throw EPublishError("cannot write the chunk " + target + ": " + error.what());
    }
}

void ChunkPublisher::WriteIndex(const ClientFile& file, const TMD5Digest& md5,
                                const std::vector<TChunkEntry>& entries) {
    const std::string target = IndexPath(options_.outDir, file.listPath);
    TChunkIndexHeader header;
    header.params = kDefaultChunkParams;
    header.fileSize = file.size;
    header.md5 = md5;
    header.chunkCount = static_cast<uint32_t>(entries.size());
    try {
        ObjectStore::Pending& written = store_.Begin();
        platform::File& out = written.Output();
        std::string bytes = FormatChunkIndexHeader(header);
        for (const TChunkEntry& entry : entries) {
            bytes += FormatChunkEntry(entry);
            if (bytes.size() >= (1u << 20)) out.Write(bytes.data(), bytes.size()), bytes.clear();
        }
        out.Write(bytes.data(), bytes.size());
        const TObjectRef index = store_.Put(TObjectKind::Index, written);
        store_.LinkClassic(TObjectKind::Index, index, target);
        indexes_[file.listPath] = index;
    } catch (const EPublishError&) {
        throw;
    } catch (const Exception& error) {
        throw EPublishError("cannot write the chunk index " + target + ": " + error.what());
    }
    chunked_.insert(FoldCase(file.listPath));
    ++indexesWritten_;
}

std::optional<TObjectRef> ChunkPublisher::IndexOf(const std::string& listPath) const {
    const auto found = indexes_.find(listPath);
    if (found == indexes_.end()) return std::nullopt;
    return found->second;
}

// The compressed size of a chunk the store holds, when it is one a chunk of that size can have.
std::optional<uint32_t> ChunkPublisher::StoredSize(const TChunkId& id, uint32_t chunkSize) const {
    try {
        platform::File stored = platform::File::OpenRead(options_.outDir + "\\" + names::ChunkStorePath(id));
        const int64_t size = stored.Size();
        if (size > 0 && size <= int64_t(MaxCompressedChunkBytes(chunkSize))) return static_cast<uint32_t>(size);
    } catch (const Exception&) {
    }
    return std::nullopt;
}

void ChunkPublisher::RemoveUnused(const std::vector<ClientFile>& files,
                                  const std::unordered_set<TChunkId, TChunkIdHash>& kept) {
    std::set<std::string> paths;
    for (const auto& [path, digest] : oldDigests_) paths.insert(path);
    for (const ClientFile& file : files) paths.insert(file.listPath);
    for (const std::string& path : paths)
        if (!chunked_.count(FoldCase(path))) RemoveStaleIndex(path);
    RemoveUnusedChunks(kept);
}

void ChunkPublisher::RemoveStaleIndex(const std::string& listPath) {
    const std::string path = IndexPath(options_.outDir, listPath);
    if (!platform::IsFile(path) || !platform::RemoveFile(path)) return;
    ++indexesRemoved_;
    RemoveEmptyFolders(options_.outDir, listPath);
}

void ChunkPublisher::RemoveUnusedChunks(const std::unordered_set<TChunkId, TChunkIdHash>& kept) {
    const fs::path store = FsPath(options_.outDir + "\\" + names::kChunkStoreFolder);
    std::error_code error;
    if (!fs::is_directory(fs::symlink_status(store, error))) return;
    for (const fs::path& folder : Listing(store)) {
        if (!fs::is_directory(fs::symlink_status(folder, error))) continue;
        for (const fs::path& file : Listing(folder)) {
            const std::string name = file.filename().string();
            const bool chunk = EndsWith(name, names::kChunkSuffix);
            // A chunk's temporary name is one a run that broke off left behind.
            if (!chunk && !EndsWith(name, std::string(names::kChunkSuffix) + names::kPublishTemporarySuffix)) continue;
            const std::optional<TChunkId> id = chunk ? names::StoredChunkId(folder.filename().string(), name) : std::nullopt;
            if (id && (current_.count(*id) || previousIds_.count(*id) || kept.count(*id))) continue;
            if (fs::remove(file, error) && chunk) ++chunksRemoved_;
        }
        RemoveIfEmpty(folder);
    }
    RemoveIfEmpty(store);
}

void ChunkPublisher::Report(PublishSummary& summary) const {
    summary.chunkedFiles = chunked_.size();
    summary.chunksWritten = written_;
    summary.chunksReused = current_.size() - written_;
    summary.chunkIndexesWritten = indexesWritten_;
    summary.chunkIndexesRemoved = indexesRemoved_;
    summary.chunksRemoved = chunksRemoved_;
}

} // namespace publish
