#include "update/DeltaInstall.h"

#include "support/Download.h"
#include "support/LauncherNames.h"
#include "support/Misc.h"
#include "support/Sources.h"
#include "support/Stream.h"
#include "support/md5.h"
#include "update/GetFilesThr.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

// Raised inside the old file's chunking to stop it: the run was told to end, or the map is full.
struct TStopMapping {};

// Raised when the run was told to end while the index's entries were being walked.
class ETerminated : public Exception {
public:
    ETerminated() : Exception("The update run was told to end") {}
};
} // namespace

bool TDeltaInstall::Offered(bool setHasObjects, const TFileObjects* objects, const std::string& localPath) {
    // A set with objects says which files have an index, and a player without the file takes it from
    // chunks too; in a classic set, one is asked for only where a large old file could lend chunks.
    return setHasObjects ? objects && objects->index : Worthwhile(localPath);
}

bool TDeltaInstall::Worthwhile(const std::string& localPath) {
    try {
        return platform::IsFile(localPath) && platform::File::OpenRead(localPath).Size() >= kLeastChunkedFileBytes;
    } catch (const Exception&) {
        return false;
    }
}

unsigned TDeltaInstall::ConnectionsFor(unsigned wanted, uint32_t maxChunk) {
    const uint64_t each = 2 * uint64_t(MaxCompressedChunkBytes(maxChunk));
    const uint64_t fit = std::max<uint64_t>(1, kConnectionMemory / each);
    return static_cast<unsigned>(std::max<uint64_t>(1, std::min<uint64_t>(wanted, fit)));
}

TDeltaInstall::TDeltaInstall(TDeltaSource source, unsigned connections, unsigned threads,
                             const std::atomic<bool>& terminated)
    : source_(std::move(source)), connections_(std::max(1u, connections)), threads_(std::max(1u, threads)),
      terminated_(terminated), indexName_(source_.resume / names::kResumeIndex), indexPath_(indexName_.Path()) {}

TDeltaInstall::~TDeltaInstall() = default;

TDeltaInstall::TFetched TDeltaInstall::Fetch(const std::function<void(int64_t, int64_t)>& onProgress) {
    // An index a cut run left is taken when it is still this version's; any fault: the payload instead.
    if (!source_.resume.Make()) return TFetched::NoIndex;
    if (!OpenIndex() && !(FetchIndex() && OpenIndex())) return TFetched::NoIndex;
    // A player without the file, or with one too small to be worth cutting, fetches every chunk.
    if (Worthwhile(source_.localPath)) MapOldFile(onProgress);
    // The chunks neither the old file nor an earlier run has, each once.
    try {
        index_->Rewind();
        for (TChunkEntry entry; index_->Next(entry);) {
            if (terminated_) throw ETerminated();
            if (!OldChunk(entry.id)) missing_.push_back(entry);
        }
    } catch (const Exception&) {
        DropIndex();
        return TFetched::Failed;
    }
    std::sort(missing_.begin(), missing_.end(),
              [](const TChunkEntry& a, const TChunkEntry& b) { return a.id < b.id; });
    missing_.erase(std::unique(missing_.begin(), missing_.end(),
                               [](const TChunkEntry& a, const TChunkEntry& b) { return a.id == b.id; }),
                   missing_.end());
    missing_.erase(std::remove_if(missing_.begin(), missing_.end(),
                                  [&](const TChunkEntry& entry) { return platform::IsFile(Fetched(entry.id).Path()); }),
                   missing_.end());
    int64_t cost = 0;
    for (const TChunkEntry& entry : missing_) cost += entry.compressedSize;
    if (source_.payloadSize > 0 && cost >= source_.payloadSize) return TFetched::NotCheaper;
    const TFetched fetched = FetchMissing(onProgress);
    if (fetched != TFetched::Ready) DropIndex();
    return fetched;
}

bool TDeltaInstall::OpenIndex() {
    index_.reset();
    indexFile_.reset();
    // A file of the launcher's own: a link planted on its name is never read.
    platform::File file = platform::File::TryOpenOwnRead(indexName_);
    if (!file.IsOpen()) return false;
    try {
        indexFile_ = std::make_unique<TFileStream>(std::move(file));
        index_ = std::make_unique<TChunkIndexReader>(*indexFile_);
        // This version of the file, and an index that reads whole before anything is fetched for it.
        if (!SameDigest(DigestToHex(index_->Header().md5), source_.digest))
            throw EChunkIndexError("another version of the file");
        for (TChunkEntry entry; index_->Next(entry);)
            if (terminated_) throw ETerminated();
        return true;
    } catch (const Exception&) {
        DropIndex();
        return false;
    }
}

void TDeltaInstall::DropIndex() {
    index_.reset();
    indexFile_.reset();
    platform::RemoveFile(indexPath_);
}

bool TDeltaInstall::FetchIndex() {
    std::string body;
    if (source_.indexObject && source_.sources) {
        // The object the list names, from any source, checked against its name.
        const TObjectRef object = *source_.indexObject;
        if (object.size > static_cast<int64_t>(kMaxChunkIndexBytes)) return false;
        TMemorySink sink(object.size, [&](const std::string& bytes) {
            return ObjectIdOf(bytes.data(), bytes.size()) == object.id;
        });
        if (source_.sources->Fetch(names::ObjectUrlPath(TObjectKind::Index, object.id), sink, terminated_) !=
            TFetchOutcome::Complete)
            return false;
        body = std::move(sink.Body());
    } else {
        const std::string url = names::ListedFileUrl(source_.baseUrl, source_.listPath, names::kChunkIndexSuffix);
        if (DownloadToMemory(url, kMaxChunkIndexBytes, &body) != TDownloadResult::Complete) return false;
    }
    try {
        platform::Replacement stored(indexPath_, names::kResumeTemporarySuffix);
        stored.Output().Write(body.data(), body.size());
        return stored.Commit();
    } catch (const Exception&) {
        return false;
    }
}

void TDeltaInstall::MapOldFile(const std::function<void(int64_t, int64_t)>& onProgress) {
    // The map holds at most as many chunks as an index may: with the index's smallest chunk size that
    // bounds it at kMaxIndexedChunks entries of 48 bytes (48 MiB) whatever the file's size; an old
    // file with more chunks lends those of its start.
    try {
        platform::File old = platform::File::OpenRead(source_.localPath);
        const int64_t size = old.Size();
        ChunkFile(old, index_->Header().params, threads_,
                  [&](uint64_t offset, uint32_t length, const TChunkId& id, const uint8_t*) {
                      if (terminated_ || old_.size() >= kMaxIndexedChunks) throw TStopMapping();
                      old_.push_back({id, offset, length});
                      onProgress(static_cast<int64_t>(offset + length), size);
                  });
    } catch (const TStopMapping&) {
    } catch (const Exception&) {
        old_.clear(); // an old file that cannot be read lends nothing
    } catch (const std::bad_alloc&) {
        old_.clear();
    }
    std::sort(old_.begin(), old_.end());
}

const TDeltaInstall::TOldChunk* TDeltaInstall::OldChunk(const TChunkId& id) const {
    const auto found = std::lower_bound(old_.begin(), old_.end(), TOldChunk{id, 0, 0});
    return found != old_.end() && found->id == id ? &*found : nullptr;
}

platform::OwnName TDeltaInstall::Fetched(const TChunkId& id) const { return source_.resume / ChunkIdToHex(id); }

TDeltaInstall::TFetched TDeltaInstall::FetchMissing(const std::function<void(int64_t, int64_t)>& onProgress) {
    int64_t total = 0;
    for (const TChunkEntry& entry : missing_) total += entry.compressedSize;
    std::mutex lock;
    std::condition_variable changed;
    int64_t done = 0;
    size_t next = 0, running = 0;
    TFetched outcome = TFetched::Ready;
    // Each connection takes the next chunk; the first failure stops them all. What was fetched and
    // checked stays for the next run. Anything a connection meets, out of memory included, is that
    // chunk's failure.
    const auto fetchOne = [&](const TChunkEntry& entry, std::string& body, std::string& bytes) {
        if (terminated_) return false;
        if (source_.sources) {
            TMemorySink sink(entry.compressedSize, [&](const std::string& stored) { return DecodeChunk(stored, entry, &bytes); });
            if (source_.sources->Fetch(names::ChunkUrlPath(entry.id), sink, terminated_) != TFetchOutcome::Complete) return false;
        } else if (DownloadToMemory(names::ChunkUrl(source_.baseUrl, entry.id), entry.compressedSize, &body) !=
                       TDownloadResult::Complete ||
                   !DecodeChunk(body, entry, &bytes)) {
            return false; // missing, refused, cut, longer than its index says, or another chunk
        }
        platform::Replacement stored(Fetched(entry.id).Path(), names::kResumeTemporarySuffix);
        stored.Output().Write(bytes.data(), bytes.size());
        return stored.Commit();
    };
    const auto fetchLoop = [&] {
        std::string body, bytes;
        for (;;) {
            size_t i = 0;
            {
                std::lock_guard<std::mutex> guard(lock);
                if (outcome != TFetched::Ready || next == missing_.size()) break;
                i = next++;
            }
            bool fetched = false;
            try {
                fetched = fetchOne(missing_[i], body, bytes);
            } catch (...) {
                // the disk refused it, or memory ran out
            }
            std::lock_guard<std::mutex> guard(lock);
            if (!fetched) outcome = TFetched::Failed;
            done += missing_[i].compressedSize;
            changed.notify_all();
        }
        std::lock_guard<std::mutex> guard(lock);
        --running;
        changed.notify_all();
    };
    std::vector<std::thread> connections;
    {
        // Counted before any connection starts: they lower it as they finish. A connection that cannot
        // be started is taken off again, and the others end at the failure.
        std::lock_guard<std::mutex> guard(lock);
        running = std::min<size_t>(ConnectionsFor(connections_, index_->Header().params.maxSize), missing_.size());
    }
    const size_t wanted = running;
    for (size_t k = 0; k < wanted; ++k) {
        try {
            connections.emplace_back(fetchLoop);
        } catch (...) {
            std::lock_guard<std::mutex> guard(lock);
            running -= wanted - k;
            outcome = TFetched::Failed;
            break;
        }
    }
    {
        std::unique_lock<std::mutex> guard(lock);
        for (;;) {
            const int64_t seen = done;
            const bool finished = running == 0;
            guard.unlock();
            onProgress(seen, total); // the window is told on this thread only
            guard.lock();
            if (finished) break;
            changed.wait(guard, [&] { return done != seen || running == 0; });
        }
    }
    for (std::thread& connection : connections) connection.join();
    return outcome;
}

void TDeltaInstall::Assemble(platform::File& output, const std::function<void(int64_t, int64_t)>& onProgress) {
    const TChunkIndexHeader& header = index_->Header();
    try {
        platform::File old;
        if (!old_.empty()) old = platform::File::OpenRead(source_.localPath);
        std::vector<char> buffer(header.params.maxSize);
        TMD5Context digest;
        int64_t written = 0;
        index_->Rewind();
        for (TChunkEntry entry; index_->Next(entry);) {
            if (terminated_) throw ETerminated();
            const TOldChunk* lent = OldChunk(entry.id);
            size_t got = 0;
            if (lent && lent->size == entry.size) {
                old.Seek(static_cast<int64_t>(lent->offset), platform::File::Origin::Begin);
                for (size_t n; got < entry.size && (n = old.Read(buffer.data() + got, entry.size - got)) > 0;) got += n;
            } else {
                platform::File fetched = platform::File::TryOpenOwnRead(Fetched(entry.id));
                if (!fetched.IsOpen()) throw EFOpenError(Fetched(entry.id).Path());
                for (size_t n; got < entry.size && (n = fetched.Read(buffer.data() + got, entry.size - got)) > 0;) got += n;
            }
            if (got != entry.size) throw EReadError(); // the old file changed under us, or a chunk is short
            output.Write(buffer.data(), got);
            digest.Update(buffer.data(), got);
            written += static_cast<int64_t>(got);
            onProgress(written, static_cast<int64_t>(header.fileSize));
        }
        TMD5Digest result;
        digest.Final(result);
        if (!SameDigest(DigestToHex(result), source_.digest) || written != static_cast<int64_t>(header.fileSize))
            throw Exception("The file assembled from chunks does not match its digest");
    } catch (...) {
        // Whatever lent a wrong byte, the next run starts over.
        index_.reset();
        indexFile_.reset();
        platform::DeleteFolderTree(source_.resume.Path());
        throw;
    }
}

// ---- the install pass's chunks way ----------------------------------------------------------------

GFilesThread::TWayOutcome GFilesThread::PlaceFromChunks(const TFileEntry& entry, const TEntryPlan& plan) {
    TDeltaSource source{BaseURL, entry.Path, entry.Digest, InstallDir + entry.Path, plan.resume, sources_.get(),
                        plan.objects ? plan.objects->index : std::nullopt, plan.payload.size};
    TDeltaInstall delta(source, ChunkConnections, UnpackThreads == 0 ? 1 : UnpackThreads, control_->Terminated);
    // The per-file gauge shows the payload's size as always; the old file's cutting, then the chunks
    // fetched, then the assembly fill it.
    const auto show = [&](int64_t done, int64_t total) { MoveFileGaugeShare(done, total, entry.Size()); };
    const TDeltaInstall::TFetched fetched = delta.Fetch(show);
    MoveFileGauge(0, true);
    // No usable index, chunks that cost no less than the payload, or a chunk that did not come as
    // named: the payload, in this same run.
    if (fetched != TDeltaInstall::TFetched::Ready) return TWayOutcome::TryNext;
    // Assembled beside the old file, which lends its chunks and stays whole until the new one, its
    // digest checked, takes its place. Chunks that each came as named but do not make the listed file
    // leave the index untrusted: the payload instead.
    return WriteInPlace(entry, [&](platform::File& output) { delta.Assemble(output, show); });
}
