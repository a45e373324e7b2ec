#include "tools/publish/PublishPatches.h"

#include "support/BZip2.h"
#include "support/ChunkIndex.h"
#include "support/Chunker.h"
#include "support/Patch.h"
#include "support/Stream.h"
#include "support/md5.h"
#include "tools/publish/PublishFiles.h"

#include <unordered_set>

namespace publish {

namespace {

const ListEntry* EntryOf(const UpdateList& list, const std::string& listPath) {
    for (const auto* section : {&list.critical, &list.normal})
        for (const ListEntry& entry : *section)
            if (entry.path == listPath) return &entry;
    return list.self && list.self->path == listPath ? &*list.self : nullptr;
}

// What a launcher holding old would fetch of the new file's chunks: those of the index old lacks. Like
// a launcher, it looks at chunks only for an old file of at least the size it cuts.
std::optional<int64_t> ChunkCost(const std::string& indexPath, const std::string& old) {
    if (old.size() < size_t(kLeastChunkedFileBytes)) return std::nullopt;
    TFileStream source(indexPath, TFileStream::Mode::OpenReadDenyWrite);
    TChunkIndexReader reader(source);
    std::unordered_set<TChunkId, TChunkIdHash> lent;
    const auto* data = reinterpret_cast<const uint8_t*>(old.data());
    for (size_t at = 0; at < old.size();) {
        const size_t length = ChunkLength(data + at, old.size() - at, reader.Header().params);
        lent.insert(ChunkIdOf(data + at, length));
        at += length;
    }
    int64_t cost = 0;
    std::unordered_set<TChunkId, TChunkIdHash> fetched;
    for (TChunkEntry entry; reader.Next(entry);)
        if (!lent.count(entry.id) && fetched.insert(entry.id).second) cost += entry.compressedSize;
    return cost;
}

} // namespace

PatchPublisher::PatchPublisher(const PublishOptions& options, ObjectStore& store, std::vector<const UpdateList*> earlier)
    : options_(options), store_(store), earlier_(std::move(earlier)) {}

std::vector<PatchPublisher::Base> PatchPublisher::BasesOf(const ClientFile& file) const {
    std::vector<Base> bases;
    for (const UpdateList* list : earlier_) {
        if (bases.size() == static_cast<size_t>(options_.patchFromRevisions)) break;
        const ListEntry* entry = EntryOf(*list, file.listPath);
        if (!entry || SameDigest(entry->digest, file.digest)) continue;
        bool known = false;
        for (const Base& base : bases) known = known || SameDigest(base.digest, entry->digest);
        if (known) continue;
        const TFileObjects* objects = list->additions.ObjectsOf(entry->digest);
        if (!objects || !objects->payload || !store_.Has(TObjectKind::Payload, *objects->payload)) continue;
        bases.push_back({entry->digest, *objects->payload});
    }
    return bases;
}

std::optional<TPatchRef> PatchPublisher::Published(const ClientFile& file, const std::string& baseDigest) const {
    if (earlier_.empty()) return std::nullopt;
    const TFileObjects* objects = earlier_.front()->additions.ObjectsOf(file.digest);
    if (!objects) return std::nullopt;
    for (const TPatchRef& patch : objects->patches)
        if (SameDigest(patch.fromDigest, baseDigest) && store_.Has(TObjectKind::Patch, patch.object)) return patch;
    return std::nullopt;
}

std::vector<TPatchRef> PatchPublisher::For(const ClientFile& file, const TObjectRef& payload,
                                           const std::optional<TObjectRef>& index, unsigned threads) {
    std::vector<TPatchRef> patches;
    if (!options_.Patches() || file.size > uint64_t(kMaxPatchFileBytes)) return patches;
    std::optional<std::string> fresh; // the new file, read once the first patch is to be made
    for (const Base& base : BasesOf(file)) {
        if (const std::optional<TPatchRef> kept = Published(file, base.digest)) {
            patches.push_back(*kept);
            continue;
        }
        // The earlier version from its payload object, as launchers have it.
        TMemoryStream old;
        TMD5Context context;
        try {
            TFileStream source(store_.PathOf(TObjectKind::Payload, base.payload.id), TFileStream::Mode::OpenReadDenyWrite);
            UnpackStream(source, old, nullptr, &context, kMaxPatchFileBytes);
        } catch (const Exception&) {
            continue; // larger than a launcher patches, or not to be read: no patch from it
        }
        TMD5Digest digest;
        context.Final(digest);
        const std::string from = DigestToHex(digest);
        if (!SameDigest(from, base.digest)) continue; // not the version its list names
        if (!fresh) fresh = ReadFileBytes(file.sourcePath, kMaxPatchFileBytes);
        const std::string patch =
            MakePatch(old.Bytes().data(), old.Bytes().size(), fresh->data(), fresh->size(), kPatchLevel, threads);
        int64_t otherwise = payload.size;
        if (index) {
            const std::optional<int64_t> chunks = ChunkCost(store_.PathOf(TObjectKind::Index, index->id), old.Bytes());
            if (chunks && *chunks < otherwise) otherwise = *chunks;
        }
        if (static_cast<int64_t>(patch.size()) >= otherwise) continue;
        patches.push_back({from, store_.PutBytes(TObjectKind::Patch, patch)});
        ++written_;
    }
    return patches;
}

} // namespace publish
