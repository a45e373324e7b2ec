#include "update/DeltaInstall.h"

#include "support/Download.h"
#include "support/LauncherNames.h"
#include "support/Misc.h"
#include "support/Stream.h"
#include "support/md5.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unordered_set>

namespace {
constexpr char kPartSuffix[] = ".part";
} // namespace

bool TDeltaInstall::Worthwhile(const std::string& localPath) {
    try {
        return platform::IsFile(localPath) && platform::File::OpenRead(localPath).Size() >= kMinOldFileBytes;
    } catch (const Exception&) {
        return false;
    }
}

TDeltaInstall::TDeltaInstall(TDeltaSource source, unsigned connections, unsigned threads)
    : source_(std::move(source)), connections_(std::max(1u, connections)), threads_(std::max(1u, threads)),
      indexPath_(source_.resumeFolder + "\\" + names::kResumeIndex) {}

TDeltaInstall::~TDeltaInstall() = default;

TDeltaInstall::TFetched TDeltaInstall::Fetch(const std::function<void(int64_t, int64_t)>& onProgress) {
    // An index a cut run left is taken when it is still this version's; any fault: the payload instead.
    if (!OpenIndex() && !(FetchIndex() && OpenIndex())) return TFetched::NoIndex;
    MapOldFile();
    // The chunks neither the old file nor an earlier run has, each once.
    std::unordered_set<TChunkId, TChunkIdHash> wanted;
    index_->Rewind();
    for (TChunkEntry entry; index_->Next(entry);) {
        if (old_.count(entry.id) || wanted.count(entry.id) || platform::IsFile(Fetched(entry.id))) continue;
        wanted.insert(entry.id);
        missing_.push_back(entry);
    }
    return FetchMissing(onProgress);
}

bool TDeltaInstall::OpenIndex() {
    index_.reset();
    indexFile_.reset();
    if (!platform::IsFile(indexPath_)) return false;
    try {
        indexFile_ = std::make_unique<TFileStream>(indexPath_, TFileStream::Mode::OpenReadDenyWrite);
        index_ = std::make_unique<TChunkIndexReader>(*indexFile_);
        // This version of the file, and an index that reads whole before anything is fetched for it.
        if (DigestToHex(index_->Header().md5) != source_.digest) throw EChunkIndexError("another version of the file");
        for (TChunkEntry entry; index_->Next(entry);) {
        }
        return true;
    } catch (const Exception&) {
        index_.reset();
        indexFile_.reset();
        platform::RemoveFile(indexPath_);
        return false;
    }
}

bool TDeltaInstall::FetchIndex() {
    const std::string url = ListedFileUrl(source_.baseUrl, source_.listPath, names::kChunkIndexSuffix);
    const std::string part = indexPath_ + kPartSuffix;
    if (DownloadToFile(url, part, {}, nullptr, static_cast<int64_t>(kMaxChunkIndexBytes)) != TDownloadResult::Complete)
        return false;
    return platform::MoveFileReplacing(part, indexPath_) || (platform::RemoveFile(part), false);
}

void TDeltaInstall::MapOldFile() {
    try {
        platform::File old = platform::File::OpenRead(source_.localPath);
        ChunkFile(old, index_->Header().params, threads_,
                  [&](uint64_t offset, uint32_t size, const TChunkId& id, const uint8_t*) {
                      old_.emplace(id, TOldChunk{offset, size});
                  });
    } catch (const Exception&) {
        old_.clear(); // an old file that cannot be read lends nothing
    }
}

std::string TDeltaInstall::Fetched(const TChunkId& id) const { return source_.resumeFolder + "\\" + ChunkIdToHex(id); }

TDeltaInstall::TFetched TDeltaInstall::FetchMissing(const std::function<void(int64_t, int64_t)>& onProgress) {
    int64_t total = 0;
    for (const TChunkEntry& entry : missing_) total += entry.compressedSize;
    std::mutex lock;
    std::condition_variable changed;
    int64_t done = 0;
    size_t next = 0, running = 0;
    TFetched outcome = TFetched::Ready;
    // Each connection takes the next chunk; the first failure stops them all. What was fetched and
    // checked stays for the next run.
    const auto fetchLoop = [&] {
        std::string body, bytes;
        for (;;) {
            size_t i = 0;
            {
                std::lock_guard<std::mutex> guard(lock);
                if (outcome != TFetched::Ready || next == missing_.size()) break;
                i = next++;
            }
            const TChunkEntry& entry = missing_[i];
            TFetched result = TFetched::Ready;
            switch (DownloadToMemory(ChunkUrl(source_.baseUrl, entry.id), entry.compressedSize, &body)) {
            case TDownloadResult::Complete:
                if (!DecodeChunk(body, entry, &bytes)) result = TFetched::ChunkFailed;
                break;
            case TDownloadResult::CannotOpen: result = TFetched::CannotOpen; break;
            default: result = TFetched::ChunkFailed; break; // cut, or longer than its index says
            }
            if (result == TFetched::Ready) {
                try {
                    platform::Replacement stored(Fetched(entry.id), kPartSuffix);
                    stored.Output().Write(bytes.data(), bytes.size());
                    if (!stored.Commit()) result = TFetched::ChunkFailed;
                } catch (const Exception&) {
                    result = TFetched::ChunkFailed; // the disk refused it
                }
            }
            std::lock_guard<std::mutex> guard(lock);
            if (result != TFetched::Ready && outcome == TFetched::Ready) outcome = result;
            done += entry.compressedSize;
            changed.notify_all();
        }
        std::lock_guard<std::mutex> guard(lock);
        --running;
        changed.notify_all();
    };
    std::vector<std::thread> connections;
    // Counted before any connection starts: they lower it as they finish.
    const size_t started = std::min<size_t>(connections_, missing_.size());
    running = started;
    for (size_t k = 0; k < started; ++k) connections.emplace_back(fetchLoop);
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
            const auto lent = old_.find(entry.id);
            size_t got = 0;
            if (lent != old_.end() && lent->second.size == entry.size) {
                old.Seek(static_cast<int64_t>(lent->second.offset), platform::File::Origin::Begin);
                for (size_t n; got < entry.size && (n = old.Read(buffer.data() + got, entry.size - got)) > 0;) got += n;
            } else {
                platform::File fetched = platform::File::OpenRead(Fetched(entry.id));
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
        if (DigestToHex(result) != source_.digest || written != static_cast<int64_t>(header.fileSize))
            throw Exception("The file assembled from chunks does not match its digest");
    } catch (...) {
        // Whatever lent a wrong byte, the next run starts over.
        index_.reset();
        indexFile_.reset();
        platform::DeleteFolderTree(source_.resumeFolder);
        throw;
    }
}
