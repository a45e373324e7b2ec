#include "tools/publish/PublishObjects.h"

#include "support/LauncherNames.h"
#include "support/Misc.h"
#include "tools/publish/PublishFiles.h"
#include "tools/publish/PublishList.h"
#include "tools/publish/PublishNames.h"

#include <filesystem>
#include <random>

namespace fs = std::filesystem;

namespace publish {

namespace {

TObjectId HashOfFile(const std::string& path) {
    const std::optional<TObjectId> id = ObjectIdOfFile(path);
    if (!id) throw EPublishError("cannot read " + path);
    return *id;
}

int64_t SizeOf(const std::string& path) {
    platform::File file = platform::File::TryOpenRead(path);
    return file.IsOpen() ? file.Size() : -1;
}

} // namespace

ObjectStore::ObjectStore(std::string outDir) : outDir_(std::move(outDir)) {}

ObjectStore::~ObjectStore() {
    for (Pending& pending : pending_) {
        pending.file_ = platform::File();
        platform::RemoveFile(pending.path_);
    }
    for (const auto& [beside, classic] : classic_) platform::RemoveFile(beside);
}

ObjectStore::Pending& ObjectStore::Begin() {
    const std::string folder = outDir_ + "\\" + names::kObjectStoreFolder;
    if (!platform::MakeFolders(folder)) throw EPublishError("cannot create the folder " + folder);
    static const unsigned run = std::random_device()();
    Pending& pending = pending_.emplace_back();
    pending.path_ = folder + "\\~new-" + std::to_string(run) + "-" + std::to_string(counter_++) +
                    names::kPublishTemporarySuffix;
    try {
        pending.file_ = platform::File::Create(pending.path_);
    } catch (const Exception& error) {
        throw EPublishError("cannot create " + pending.path_ + ": " + error.what());
    }
    return pending;
}

TObjectRef ObjectStore::Put(TObjectKind kind, Pending& pending) {
    try {
        pending.file_.Close();
    } catch (const Exception& error) {
        throw EPublishError("cannot write " + pending.path_ + ": " + error.what());
    }
    TObjectRef ref{HashOfFile(pending.path_), SizeOf(pending.path_)};
    const std::string target = PathOf(kind, ref.id);
    if (Has(kind, ref)) {
        platform::RemoveFile(pending.path_);
        return ref;
    }
    MakeFoldersFor(target);
    if (!platform::MoveFileReplacing(pending.path_, target)) throw EPublishError("cannot store " + pending.path_ + " as " + target);
    return ref;
}

TObjectRef ObjectStore::PutBytes(TObjectKind kind, const std::string& bytes) {
    Pending& pending = Begin();
    try {
        pending.Output().Write(bytes.data(), bytes.size());
    } catch (const Exception& error) {
        throw EPublishError("cannot write " + pending.path_ + ": " + error.what());
    }
    return Put(kind, pending);
}

TObjectRef ObjectStore::PutFile(TObjectKind kind, const std::string& path) {
    TObjectRef ref{HashOfFile(path), SizeOf(path)};
    if (Has(kind, ref)) return ref;
    const std::string target = PathOf(kind, ref.id);
    MakeFoldersFor(target);
    const std::string beside = target + names::kPublishTemporarySuffix;
    platform::RemoveFile(beside);
    NameOrCopy(path, beside);
    if (!platform::MoveFileReplacing(beside, target)) throw EPublishError("cannot store " + path + " as " + target);
    return ref;
}

void ObjectStore::PutNamed(TObjectKind kind, const TObjectId& id, const std::string& bytes) {
    const std::string target = PathOf(kind, id);
    MakeFoldersFor(target);
    WriteFileAside(target, bytes);
}

std::string ObjectStore::PathOf(TObjectKind kind, const TObjectId& id) const {
    return outDir_ + "\\" + names::ObjectStorePath(kind, id);
}

bool ObjectStore::Has(TObjectKind kind, const TObjectRef& ref) const { return SizeOf(PathOf(kind, ref.id)) == ref.size; }

void ObjectStore::NameOrCopy(const std::string& object, const std::string& target) {
    if (platform::MakeHardLink(object, target)) return;
    if (!platform::CopyFileReplacing(object, target)) throw EPublishError("cannot copy " + object + " to " + target);
}

void ObjectStore::LinkClassic(TObjectKind kind, const TObjectRef& ref, const std::string& classic) {
    MakeFoldersFor(classic);
    const std::string beside = classic + names::kPublishTemporarySuffix;
    platform::RemoveFile(beside);
    NameOrCopy(PathOf(kind, ref.id), beside);
    classic_.emplace_back(beside, classic);
}

void ObjectStore::CommitClassicNames() {
    while (!classic_.empty()) {
        const auto [beside, classic] = classic_.front();
        if (!platform::MoveFileReplacing(beside, classic)) throw EPublishError("cannot rename " + beside + " to " + classic);
        classic_.pop_front();
    }
}

size_t ObjectStore::RemoveAllBut(const std::set<TObjectKey>& keep) {
    const fs::path store = FsPath(outDir_ + "\\" + names::kObjectStoreFolder);
    std::error_code error;
    if (!fs::is_directory(fs::symlink_status(store, error))) return 0;
    size_t removed = 0;
    for (const fs::path& entry : Listing(store)) {
        if (!fs::is_directory(fs::symlink_status(entry, error))) {
            fs::remove(entry, error); // a temporary a broken-off run left
            continue;
        }
        for (const fs::path& file : Listing(entry)) {
            const std::optional<names::TStoredObject> object =
                names::StoredObjectOf(entry.filename().string(), file.filename().string());
            if (object && keep.count({object->kind, object->id})) continue;
            if (fs::remove(file, error) && object) ++removed;
        }
        RemoveIfEmpty(entry);
    }
    RemoveIfEmpty(store);
    return removed;
}

} // namespace publish
