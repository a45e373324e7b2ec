#include "tools/publish/Publish.h"
#include "tools/publish/PublishSigning.h"

#include "platform/Platform.h"
#include "support/LauncherNames.h"
#include "support/Misc.h"
#include "support/SafeNames.h"
#include "support/md5.h"
#include "tools/publish/PublishChunks.h"
#include "tools/publish/PublishCompress.h"
#include "tools/publish/PublishList.h"
#include "tools/publish/PublishScan.h"

#include <algorithm>
#include <deque>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <set>

namespace fs = std::filesystem;

namespace publish {

namespace {

// Payloads written beside the ones they replace; none takes its place unless every one was written,
// and those never committed are removed.
class PendingPayloads {
public:
    platform::Replacement& Add(const std::string& payload) {
        pending_.emplace_back(payload, names::kPublishTemporarySuffix);
        return pending_.back();
    }
    void CommitAll() {
        for (platform::Replacement& payload : pending_)
            if (!payload.Commit())
                throw EPublishError("cannot rename " + payload.TemporaryPath() + " to " + payload.Target());
        pending_.clear();
    }

private:
    std::deque<platform::Replacement> pending_; // a deque keeps every element where it is
};

struct Job {
    ClientFile* file;
    ListEntry* entry;
    std::string payload;
    platform::Replacement* written = nullptr; // its new payload, from its first piece on
};

// Compresses the files of the jobs, piece by piece on every thread of the pool, into their payloads'
// temporary names; fills in the payload sizes.
class PayloadWriter {
public:
    PayloadWriter(WorkerPool& pool, PendingPayloads& pending, const std::function<void(const PublishProgress&)>& progress)
        : pool_(pool), pending_(pending), progress_(progress) {}

    void Run(std::vector<Job>& jobs) {
        state_ = {"compressing", 0, jobs.size(), 0, 0};
        for (const Job& job : jobs) state_.bytesTotal += job.file->size;
        for (Job& job : jobs) ReadFile(job);
        while (!window_.empty()) CompleteOldest();
    }

private:
    struct Piece {
        Job* job;
        std::future<std::vector<std::string>> streams;
        bool first, last;
        size_t bytes;
    };

    void ReadFile(Job& job) {
        TMD5Context digest;
        std::shared_ptr<std::string> piece;
        bool first = true;
        try {
            platform::File file = platform::File::OpenRead(job.file->sourcePath);
            for (;;) {
                auto next = std::make_shared<std::string>(kPieceSize, '\0');
                size_t got = 0;
                for (size_t more; got < next->size() && (more = file.Read(&(*next)[got], next->size() - got)) > 0;)
                    got += more;
                next->resize(got);
                digest.Update(next->data(), got);
                if (piece && got == 0) break;
                if (piece) Submit(job, piece, first, false), first = false;
                piece = next;
                if (got < kPieceSize) break;
            }
        } catch (const EPublishError&) {
            throw;
        } catch (const Exception& error) {
            throw EPublishError("cannot read " + job.file->sourcePath + ": " + error.what());
        }
        Submit(job, piece, first, true);
        TMD5Digest result;
        digest.Final(result);
        if (DigestToHex(result) != job.file->digest)
            throw EPublishError(job.file->sourcePath + " changed while it was being published; publish again");
    }

    void Submit(Job& job, std::shared_ptr<std::string> data, bool first, bool last) {
        while (window_.size() >= pool_.Size() * 2 + 2) CompleteOldest();
        if (first) {
            MakeFolders(job.payload);
            job.written = &pending_.Add(job.payload);
        }
        auto streams = pool_.Submit([data] { return CompressPiece(data->data(), data->size()); });
        window_.push_back({&job, std::move(streams), first, last, data->size()});
    }

    static void MakeFolders(const std::string& payload) {
        std::string folder = ExtractFilePath(payload);
        if (!folder.empty() && !platform::MakeFolders(folder.substr(0, folder.size() - 1)))
            throw EPublishError("cannot create the folder " + folder);
    }

    void CompleteOldest() {
        Piece piece = std::move(window_.front());
        window_.pop_front();
        std::vector<std::string> streams = piece.streams.get();
        platform::Replacement& written = *piece.job->written;
        if (piece.first && piece.last && streams.size() == 1) {
            TFileStream target(written.Output());
            target.WriteBuffer(streams[0].data(), static_cast<int32_t>(streams[0].size()));
            written.Finish();
            piece.job->entry->payloadSize = static_cast<int64_t>(streams[0].size());
        } else {
            if (piece.first) {
                target_ = std::make_unique<TFileStream>(written.Output());
                joiner_ = std::make_unique<TBZBlockJoiner>(*target_);
            }
            for (const std::string& stream : streams) joiner_->Add(stream);
            if (piece.last) {
                piece.job->entry->payloadSize = joiner_->Finish();
                joiner_.reset();
                target_.reset();
                written.Finish();
            }
        }
        state_.bytesDone += piece.bytes;
        if (piece.last) ++state_.filesDone;
        if (progress_) progress_(state_);
    }

    WorkerPool& pool_;
    PendingPayloads& pending_;
    const std::function<void(const PublishProgress&)>& progress_;
    std::deque<Piece> window_;
    std::unique_ptr<TFileStream> target_;
    std::unique_ptr<TBZBlockJoiner> joiner_;
    PublishProgress state_{"compressing"};
};

// The payload size of the entry already published for this path and content, when its payload is
// still there as published.
std::optional<int64_t> Reusable(const std::map<std::string, ListEntry>& published, const std::string& outDir,
                                const ClientFile& file) {
    auto found = published.find(file.listPath);
    if (found == published.end() || found->second.digest != file.digest) return std::nullopt;
    try {
        platform::File payload = platform::File::OpenRead(PayloadPath(outDir, file.listPath));
        if (payload.Size() != found->second.payloadSize) return std::nullopt;
    } catch (const Exception&) {
        return std::nullopt;
    }
    return found->second.payloadSize;
}

void WriteList(const std::string& outDir, const std::string& text) {
    WriteFileAside(outDir + "\\" + names::kListPayload, CompressBytes(text.data(), text.size()));
}

// Deletes a payload that is no longer listed, and the folders it leaves empty.
void RemovePayload(const std::string& outDir, const std::string& listPath) {
    platform::RemoveFile(PayloadPath(outDir, listPath));
    std::string relative = listPath;
    for (size_t slash; (slash = relative.rfind('\\')) != std::string::npos;) {
        relative.resize(slash);
        std::string folder = outDir + "\\" + relative;
        std::replace(folder.begin(), folder.end(), '\\', '/');
        std::error_code error;
        if (!fs::is_empty(fs::path(folder), error) || error || !fs::remove(fs::path(folder), error)) break;
    }
}

} // namespace

PublishSummary Publish(const PublishOptions& options, const std::function<void(const PublishProgress&)>& progress) {
    if (!platform::IsFolder(options.outDir) && !platform::MakeFolders(options.outDir))
        throw EPublishError("cannot create the output folder " + options.outDir);
    // A key that cannot be used is found before anything is written.
    std::optional<TListSecretKey> signingKey;
    if (!options.signingKeyFile.empty()) signingKey = LoadSecretKeyFile(options.signingKeyFile);
    ClientScan scan = ScanClient(options);
    CheckChunkNames(scan.files, options.chunks);
    UpdateList list;
    list.modHosts = options.modHosts;
    if (!options.hostsFile.empty()) list.hosts = ReadHostsFile(options.hostsFile);
    if (options.modHosts && list.hosts.empty())
        throw EPublishError("ModHosts is switched on but there are no hosts entries; launchers would fail on the "
                            "empty hosts section");
    std::optional<UpdateList> published = ReadPublishedList(options.outDir);
    std::map<std::string, ListEntry> old;
    if (published) {
        for (const auto* section : {&published->critical, &published->normal})
            for (const ListEntry& entry : *section) old.emplace(entry.path, entry);
    }
    ChunkPublisher chunks(options, published); // reads the published indexes before anything changes

    WorkerPool pool(options.threads);
    DigestClient(scan, pool, progress);

    // Reuse what is published unchanged; queue the rest for compression.
    PublishSummary summary;
    std::vector<std::pair<ClientFile*, ListEntry*>> listed;
    for (ClientFile& file : scan.files) {
        auto& section = file.critical ? list.critical : list.normal;
        section.push_back({file.listPath, file.digest, 0});
    }
    size_t critical = 0, normal = 0;
    for (ClientFile& file : scan.files)
        listed.emplace_back(&file, file.critical ? &list.critical[critical++] : &list.normal[normal++]);
    if (scan.self) {
        list.self = ListEntry{scan.self->listPath, scan.self->digest, 0};
        if (published && published->self) old.emplace(published->self->path, *published->self);
        listed.emplace_back(&*scan.self, &*list.self);
    }
    std::vector<Job> jobs;
    for (auto& [file, entry] : listed) {
        if (std::optional<int64_t> size = Reusable(old, options.outDir, *file)) {
            entry->payloadSize = *size;
            ++summary.reused;
        } else {
            jobs.push_back({file, entry, PayloadPath(options.outDir, file->listPath)});
            summary.inputBytes += file->size;
        }
    }

    PendingPayloads pending;
    PayloadWriter(pool, pending, progress).Run(jobs);
    for (const Job& job : jobs) {
        if (job.entry->payloadSize > std::numeric_limits<int32_t>::max())
            throw EPublishError("the payload of " + job.file->listPath + " is " + std::to_string(job.entry->payloadSize) +
                                " bytes; the launcher reads sizes as 32-bit numbers (at most 2147483647)");
    }
    // Chunks, then the indexes that name them, then the payloads: no launcher meets a name of a file
    // that is not there yet.
    chunks.Write(scan.files, pool, progress);
    chunks.CommitIndexes();
    pending.CommitAll();
    summary.compressed = jobs.size();
    summary.files = listed.size();
    for (auto& item : listed) summary.payloadBytes += static_cast<uint64_t>(item.second->payloadSize);

    // The list goes last, and only when something in it changed (or a revision was asked for).
    list.revision = published ? published->revision : 0;
    bool same = published && FormatList(list) == FormatList(*published);
    if (options.revision) {
        list.revision = *options.revision;
    } else if (!same) {
        if (list.revision == std::numeric_limits<int32_t>::max())
            throw EPublishError("the published revision is already the largest the launcher can read");
        ++list.revision;
    }
    summary.revision = list.revision;
    if (!same || (options.revision && *options.revision != published->revision)) {
        WriteList(options.outDir, FormatList(list));
        summary.listWritten = true;
    }
    // Signed right after the list is in place: a launcher that fetches the two in between sees a
    // pair that does not match, refuses it, and succeeds on its next run.
    if (signingKey) {
        WriteListSignature(options.outDir, *signingKey);
    } else {
        // An unsigned set keeps no signature of an earlier list: it would belong to another list.
        summary.staleSignatureRemoved = platform::RemoveFile(options.outDir + "\\" + names::kListSignature);
    }

    // Payloads of files that left the client, once no list points at them any more.
    // Compared as Windows compares names: a file renamed only in letter case keeps the payload just
    // written for it, which on Windows is the same file as the old one's.
    std::set<std::string> current;
    for (auto& item : listed) current.insert(FoldCase(item.second->path));
    for (auto& [path, entry] : old) {
        if (!current.count(FoldCase(path))) {
            RemovePayload(options.outDir, path);
            ++summary.removed;
        }
    }
    // Indexes of files no longer in chunks, and chunks neither this list nor the one before needs.
    chunks.RemoveUnused(scan.files);
    chunks.Report(summary);
    return summary;
}

} // namespace publish
