#include "support/LauncherNames.h"

#include "support/Misc.h"
#include "support/SafeNames.h"
#include "support/md5.h"

#include <cstring>

namespace names {

namespace {
// Whether path is folder or lies inside it, both already folded.
bool InFolder(const std::string& path, const std::string& folder) {
    return path == folder || (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
                              (path[folder.size()] == '\\' || path[folder.size()] == '/'));
}
} // namespace

bool IsLauncherOwnedPath(const std::string& listPath, const std::string& selfName) {
    const std::string path = FoldCase(listPath);
    for (const char* file : {kSettingsFile, kList, kListPayload, kListSignature, kUpdateBatch})
        if (path == FoldCase(file)) return true;
    for (const char* folder : {kBackupFolder, kStagingFolder})
        if (InFolder(path, FoldCase(folder))) return true;
    return !selfName.empty() && path == FoldCase(selfName + kSelfUpdateSuffix);
}

std::string ResumeFolder() { return std::string(kStagingFolder) + "\\" + kResumeSubfolder; }
std::string AheadFolder() { return std::string(kStagingFolder) + "\\" + kAheadSubfolder; }

std::string ResumeFolderOf(const std::string& listPath, const std::string& digest) {
    TMD5Context key;
    const std::string name = FoldCase(listPath) + "|" + digest;
    key.Update(name.data(), name.size());
    TMD5Digest hash;
    key.Final(hash);
    return ResumeFolder() + "\\" + DigestToHex(hash);
}

std::string PayloadUrl(const std::string& baseUrl, const std::string& listPath) {
    return ListedFileUrl(baseUrl, listPath, kPayloadSuffix);
}

std::string ListedFileUrl(const std::string& baseUrl, const std::string& listPath, const std::string& suffix) {
    static const char digits[] = "0123456789ABCDEF";
    std::string url = baseUrl;
    url.reserve(baseUrl.size() + listPath.size() + 8);
    for (unsigned char c : listPath) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           (c != 0 && std::strchr("-._~!$&'()*+,;=:@/", c) != nullptr);
        if (c == '\\') {
            url += '/';
        } else if (plain) {
            url += static_cast<char>(c);
        } else {
            url += '%';
            url += digits[c >> 4];
            url += digits[c & 15];
        }
    }
    return url + suffix;
}

namespace {
// Where a store keeps what id names: FOLDER, the id's first two hexadecimal digits, then all of them
// and suffix, separator between.
std::string StorePath(const char* folder, const TObjectId& id, const char* suffix, char separator) {
    const std::string hex = ObjectIdToHex(id);
    return std::string(folder) + separator + hex.substr(0, 2) + separator + hex + suffix;
}
} // namespace

std::string ChunkStorePath(const TChunkId& id) { return StorePath(kChunkStoreFolder, id, kChunkSuffix, '\\'); }
std::string ChunkUrlPath(const TChunkId& id) { return StorePath(kChunkStoreFolder, id, kChunkSuffix, '/'); }

std::string ChunkUrl(const std::string& baseUrl, const TChunkId& id) { return baseUrl + ChunkUrlPath(id); }

namespace {
// The id a store file FOLDER\NAME is named by, when NAME is 64 lower-case hexadecimal digits, FOLDER
// their first two, then suffix.
std::optional<TObjectId> StoreNameId(const std::string& folder, const std::string& name, const std::string& suffix) {
    if (name.size() <= suffix.size() || !EndsWith(name, suffix)) return std::nullopt;
    const std::string hex = name.substr(0, name.size() - suffix.size());
    const std::optional<TObjectId> id = ObjectIdFromHex(hex);
    if (!id || ObjectIdToHex(*id) != hex || hex.compare(0, 2, folder) != 0) return std::nullopt;
    return id;
}
} // namespace

std::optional<TChunkId> StoredChunkId(const std::string& folder, const std::string& name) {
    return StoreNameId(folder, name, kChunkSuffix);
}

namespace {

const char* SuffixOf(TObjectKind kind) {
    switch (kind) {
    case TObjectKind::Payload: return kPayloadSuffix;
    case TObjectKind::Index: return kChunkIndexSuffix;
    case TObjectKind::Patch: return kPatchSuffix;
    case TObjectKind::List: return kListObjectSuffix;
    case TObjectKind::Signature: return kSignatureObjectSuffix;
    }
    return "";
}

} // namespace

std::string ObjectStorePath(TObjectKind kind, const TObjectId& id) {
    return StorePath(kObjectStoreFolder, id, SuffixOf(kind), '\\');
}
std::string ObjectUrlPath(TObjectKind kind, const TObjectId& id) { return StorePath(kObjectStoreFolder, id, SuffixOf(kind), '/'); }

std::optional<TStoredObject> StoredObjectOf(const std::string& folder, const std::string& name) {
    // The longest suffix first: a list object's ".lst.bz2" also ends with a payload's ".bz2".
    for (TObjectKind kind : {TObjectKind::List, TObjectKind::Payload, TObjectKind::Index, TObjectKind::Patch,
                             TObjectKind::Signature}) {
        const std::string suffix = SuffixOf(kind);
        if (!EndsWith(name, suffix)) continue;
        const std::optional<TObjectId> id = StoreNameId(folder, name, suffix);
        if (!id) return std::nullopt;
        return TStoredObject{kind, *id};
    }
    return std::nullopt;
}

} // namespace names
