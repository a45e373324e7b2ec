#include "tools/publish/Publish.h"
#include "tools/publish/PublishSigning.h"

#include "platform/Platform.h"
#include "support/LauncherNames.h"
#include "support/Misc.h"
#include "support/SafeNames.h"
#include "support/md5.h"
#include "tools/publish/PublishChunks.h"
#include "tools/publish/PublishCompress.h"
#include "tools/publish/PublishFiles.h"
#include "tools/publish/PublishList.h"
#include "tools/publish/PublishObjects.h"
#include "tools/publish/PublishPatches.h"
#include "tools/publish/PublishScan.h"

#include <algorithm>
#include <deque>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <unordered_set>

namespace fs = std::filesystem;

namespace publish {

namespace {

struct Job {
    ClientFile* file;
    ListEntry* entry;
    ObjectStore::Pending* written = nullptr; // its new payload, from its first piece on
    TObjectRef object;                       // the payload once stored
};

// Compresses the files of the jobs, piece by piece on every thread of the pool, into new objects of the
// store; fills in the payloads' objects and sizes.
class PayloadWriter {
public:
    PayloadWriter(WorkerPool& pool, ObjectStore& store, const std::function<void(const PublishProgress&)>& progress)
        : pool_(pool), store_(store), progress_(progress) {}

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
        if (first) job.written = &store_.Begin();
        auto streams = pool_.Submit([data] { return CompressPiece(data->data(), data->size()); });
        window_.push_back({&job, std::move(streams), first, last, data->size()});
    }

    void CompleteOldest() {
        Piece piece = std::move(window_.front());
        window_.pop_front();
        std::vector<std::string> streams = piece.streams.get();
        ObjectStore::Pending& written = *piece.job->written;
        if (piece.first && piece.last && streams.size() == 1) {
            TFileStream target(written.Output());
            target.WriteBuffer(streams[0].data(), static_cast<int32_t>(streams[0].size()));
            Store(*piece.job);
        } else {
            if (piece.first) {
                target_ = std::make_unique<TFileStream>(written.Output());
                joiner_ = std::make_unique<TBZBlockJoiner>(*target_);
            }
            for (const std::string& stream : streams) joiner_->Add(stream);
            if (piece.last) {
                joiner_->Finish();
                joiner_.reset();
                target_.reset();
                Store(*piece.job);
            }
        }
        state_.bytesDone += piece.bytes;
        if (piece.last) ++state_.filesDone;
        if (progress_) progress_(state_);
    }

    void Store(Job& job) {
        job.object = store_.Put(TObjectKind::Payload, *job.written);
        job.entry->payloadSize = job.object.size;
    }

    WorkerPool& pool_;
    ObjectStore& store_;
    const std::function<void(const PublishProgress&)>& progress_;
    std::deque<Piece> window_;
    std::unique_ptr<TFileStream> target_;
    std::unique_ptr<TBZBlockJoiner> joiner_;
    PublishProgress state_{"compressing"};
};

// The payload object of a file whose contents were published before, under any name: the one the
// published list names for them, or, for a set published before objects, the classic payload of the
// same path and contents, taken into the store.
std::optional<TObjectRef> Reusable(const std::optional<UpdateList>& published,
                                   const std::map<std::string, ListEntry>& old, ObjectStore& store,
                                   const std::string& outDir, const ClientFile& file) {
    if (published) {
        const TFileObjects* objects = published->additions.ObjectsOf(file.digest);
        if (objects && objects->payload && store.Has(TObjectKind::Payload, *objects->payload)) return objects->payload;
    }
    auto found = old.find(file.listPath);
    if (found == old.end() || found->second.digest != file.digest) return std::nullopt;
    const std::string classic = PayloadPath(outDir, file.listPath);
    platform::File payload = platform::File::TryOpenRead(classic);
    if (!payload.IsOpen() || payload.Size() != found->second.payloadSize) return std::nullopt;
    payload = platform::File();
    return store.PutFile(TObjectKind::Payload, classic);
}

// Whether a classic name already is the object (its size says so; a payload's bytes follow from its
// file's contents).
bool SameSize(const std::string& classic, int64_t size) {
    platform::File file = platform::File::TryOpenRead(classic);
    return file.IsOpen() && file.Size() == size;
}

// What the lists a set keeps need: their objects, the lists themselves and their signatures, and the
// chunks their indexes name.
struct RetainedSet {
    std::set<TObjectKey> objects;
    std::unordered_set<TChunkId, TChunkIdHash> chunks;
};

void AddObjectsOf(const ObjectStore& store, const TListAdditions& additions, RetainedSet& retained) {
    for (const auto& [digest, file] : additions.Objects()) {
        if (file.payload) retained.objects.insert({TObjectKind::Payload, file.payload->id});
        for (const TPatchRef& patch : file.patches) retained.objects.insert({TObjectKind::Patch, patch.object.id});
        if (!file.index) continue;
        retained.objects.insert({TObjectKind::Index, file.index->id});
        try {
            TFileStream source(store.PathOf(TObjectKind::Index, file.index->id), TFileStream::Mode::OpenReadDenyWrite);
            TChunkIndexReader reader(source);
            for (TChunkEntry entry; reader.Next(entry);) retained.chunks.insert(entry.id);
        } catch (const Exception&) {
            // an index that cannot be read names no chunk a launcher would fetch
        }
    }
}

RetainedSet Retained(const ObjectStore& store, const UpdateList& list, const std::optional<TObjectRef>& listObject) {
    RetainedSet retained;
    AddObjectsOf(store, list.additions, retained);
    std::vector<TObjectId> lists = list.additions.Kept();
    if (listObject) lists.push_back(listObject->id);
    for (const TObjectId& id : lists) {
        retained.objects.insert({TObjectKind::List, id});
        retained.objects.insert({TObjectKind::Signature, id});
        if (listObject && id == listObject->id) continue;
        try {
            AddObjectsOf(store, ReadCompressedList(store.PathOf(TObjectKind::List, id)).additions, retained);
        } catch (const EPublishError&) {
            // a kept list that cannot be read keeps nothing more
        }
    }
    return retained;
}

// Deletes a payload that is no longer listed, and the folders it leaves empty.
void RemovePayload(const std::string& outDir, const std::string& listPath) {
    platform::RemoveFile(PayloadPath(outDir, listPath));
    RemoveEmptyFolders(outDir, listPath);
}

} // namespace

PublishSummary Publish(const PublishOptions& options, const std::function<void(const PublishProgress&)>& progress) {
    if (!platform::IsFolder(options.outDir) && !platform::MakeFolders(options.outDir))
        throw EPublishError("cannot create the output folder " + options.outDir);
    if (options.keep < 1) throw EPublishError("--keep needs at least 1: the list being published");
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
    for (const std::string& mirror : options.mirrors) {
        try {
            list.additions.AddMirror(mirror);
        } catch (const EConvertError&) {
            throw EPublishError("\"" + mirror + "\" is no mirror a launcher would take: an http:// or https:// "
                                "address without blanks, at most 16 of them");
        }
    }
    std::optional<UpdateList> published = ReadPublishedList(options.outDir);
    std::map<std::string, ListEntry> old;
    if (published) {
        for (const auto* section : {&published->critical, &published->normal})
            for (const ListEntry& entry : *section) old.emplace(entry.path, entry);
    }
    ObjectStore store(options.outDir);
    ChunkPublisher chunks(options, published, store); // reads the published indexes before anything changes

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
    std::map<std::string, TObjectRef> payloads; // by digest: what this list names
    std::set<std::string> queued;
    for (auto& [file, entry] : listed) {
        if (payloads.count(file->digest) || queued.count(file->digest)) continue; // the same contents again
        if (std::optional<TObjectRef> object = Reusable(published, old, store, options.outDir, *file)) {
            payloads[file->digest] = *object;
            ++summary.reused;
        } else {
            jobs.push_back({file, entry, nullptr, {}});
            queued.insert(file->digest);
            summary.inputBytes += file->size;
        }
    }
    PayloadWriter(pool, store, progress).Run(jobs);
    for (const Job& job : jobs) payloads[job.file->digest] = job.object;
    // Every payload and index is in the store: the classic names beside the list become the same files,
    // indexes first, then payloads, so no launcher meets a name of a file that is not there yet.
    chunks.Write(scan.files, pool, progress);
    // Patches to changed files from their earlier versions, which the published list and the lists it
    // keeps name.
    std::vector<UpdateList> keptLists;
    std::vector<const UpdateList*> earlier;
    if (published) {
        earlier.push_back(&*published);
        keptLists.reserve(published->additions.Kept().size());
        for (const TObjectId& id : published->additions.Kept()) {
            try {
                keptLists.push_back(ReadCompressedList(store.PathOf(TObjectKind::List, id)));
                earlier.push_back(&keptLists.back());
            } catch (const EPublishError&) {
                // a kept list that cannot be read lends no earlier version
            }
        }
    }
    PatchPublisher patches(options, store, earlier);
    PublishProgress patching{"patching", 0, listed.size(), 0, 0};
    for (auto& [file, entry] : listed) {
        const TObjectRef& payload = payloads.at(file->digest);
        entry->payloadSize = payload.size;
        TFileObjects& objects = list.additions.ObjectsFor(file->digest);
        objects.payload = payload;
        if (const std::optional<TObjectRef> index = chunks.IndexOf(file->listPath)) objects.index = index;
        if (objects.patches.empty()) objects.patches = patches.For(*file, payload, objects.index, pool.Size());
        summary.patchedFiles += !objects.patches.empty();
        ++patching.filesDone;
        if (progress && options.Patches()) progress(patching);
        // The classic name stays where it is the payload already: the same contents under the same name
        // as before, at the object's size.
        const std::string classic = PayloadPath(options.outDir, file->listPath);
        const auto before = old.find(file->listPath);
        const bool unchanged = before != old.end() && before->second.digest == file->digest;
        if (!unchanged || !SameSize(classic, payload.size)) store.LinkClassic(TObjectKind::Payload, payload, classic);
    }
    store.CommitClassicNames();
    summary.compressed = jobs.size();
    summary.patchesWritten = patches.Written();
    summary.files = listed.size();
    for (auto& item : listed) summary.payloadBytes += static_cast<uint64_t>(item.second->payloadSize);

    // The list goes last, and only when something in it changed (or a revision was asked for). The lists
    // it keeps are those before it: a change of that alone is no change.
    list.revision = published ? published->revision : 0;
    if (published) list.additions.SetKept(published->additions.Kept());
    bool same = published && FormatList(list) == FormatList(*published);
    if (options.revision) {
        list.revision = *options.revision;
    } else if (!same) {
        if (list.revision == std::numeric_limits<int32_t>::max())
            throw EPublishError("the published revision is already the largest the launcher can read");
        ++list.revision;
    }
    summary.revision = list.revision;
    std::optional<TObjectRef> listObject;
    if (!same || (options.revision && *options.revision != published->revision)) {
        // The list before this one stays as an object while this list keeps it: a launcher that fetched
        // it a moment ago finds every object it names.
        std::vector<TObjectId> kept;
        if (published && options.keep > 1) {
            kept.push_back(store.PutFile(TObjectKind::List, options.outDir + "\\" + names::kListPayload).id);
            for (const TObjectId& id : published->additions.Kept())
                if (kept.size() < size_t(options.keep - 1)) kept.push_back(id);
        }
        list.additions.SetKept(kept);
        const std::string text = FormatList(list);
        listObject = store.PutBytes(TObjectKind::List, CompressBytes(text.data(), text.size()));
        // The signature named by the list's own bytes comes before the list: no launcher and no cache
        // can pair the list with another list's signature.
        if (signingKey)
            store.PutNamed(TObjectKind::Signature, listObject->id,
                           FormatSignatureFile(SignFile(store.PathOf(TObjectKind::List, listObject->id), *signingKey)));
        WriteFileAside(options.outDir + "\\" + names::kListPayload, ReadFileBytes(store.PathOf(TObjectKind::List, listObject->id)));
        summary.listWritten = true;
    } else {
        listObject = store.PutFile(TObjectKind::List, options.outDir + "\\" + names::kListPayload);
    }
    // The signature beside the list, for launchers of sets published before objects, right after the
    // list is in place: a launcher that fetches the two in between sees a pair that does not match,
    // refuses it, and succeeds on its next run.
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
    // Objects and chunks that none of the lists kept needs any more.
    const RetainedSet retained = Retained(store, list, listObject);
    summary.objectsRemoved = store.RemoveAllBut(retained.objects);
    chunks.RemoveUnused(scan.files, retained.chunks);
    chunks.Report(summary);
    return summary;
}

} // namespace publish
