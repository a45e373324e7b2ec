// Every name the launcher uses in the install folder and on the update server, and the one rule for
// which of them a client may never list. The launcher, vandrel-publish (its never-publish rule) and
// vandrel-publish --verify all take their names from here, so they cannot drift apart.
#pragma once

#include "support/Chunker.h"
#include "support/Objects.h"

#include <optional>
#include <string>

namespace names {

// ---- on the update server, relative to the base URL -------------------------------------------------
// The compressed update list, fetched first by every run.
inline constexpr char kListPayload[] = "files.lst.bz2";
// The list's signature in signed sets (files.lst.bz2 + ".sig").
inline constexpr char kListSignature[] = "files.lst.bz2.sig";
// A listed file's payload: its list path with "/" between folder names, then this suffix.
inline constexpr char kPayloadSuffix[] = ".bz2";
// Sets published with chunks: a large file's chunk index beside its payload (its list path, then this
// suffix), and the chunk store, where each chunk is kChunkStoreFolder/XX/ID + kChunkSuffix (ID: 64
// hexadecimal digits of the chunk's BLAKE2b-256 hash, XX its first two). A client may list nothing in
// the chunk store's folder.
inline constexpr char kChunkIndexSuffix[] = ".chunks";
inline constexpr char kChunkStoreFolder[] = "vandrel-chunks";
inline constexpr char kChunkSuffix[] = ".zst";
// The object store: every payload, chunk index, patch, list and list signature also under the name of
// its contents, kObjectStoreFolder/XX/ID + the kind's suffix (ID: 64 hexadecimal digits of the
// BLAKE2b-256 hash of its bytes, XX its first two). A payload's and an index's suffixes are the
// classic names' (kPayloadSuffix, kChunkIndexSuffix). A client may list nothing in this folder.
inline constexpr char kObjectStoreFolder[] = "vandrel-objects";
inline constexpr char kPatchSuffix[] = ".patch";
inline constexpr char kListObjectSuffix[] = ".lst.bz2";
inline constexpr char kSignatureObjectSuffix[] = ".sig";

// ---- in the install folder ----------------------------------------------------------------------------
// The unpacked list, there while a run reads it.
inline constexpr char kList[] = "files.lst";
// The launcher's settings file, its section and its keys.
inline constexpr char kSettingsFile[] = "_settings.ini";
inline constexpr char kSettingsSection[] = "main";
inline constexpr char kRevisionKey[] = "AtRevision";
inline constexpr char kBackupKey[] = "CreateBackup";
// The batch file that swaps in the launcher's new exe, and the suffix of that new exe (NAME.New).
inline constexpr char kUpdateBatch[] = "Update.bat";
inline constexpr char kSelfUpdateSuffix[] = ".New";
// Copies of replaced files, under their list paths.
inline constexpr char kBackupFolder[] = "backup";
// Where the install pass stages what it fetches and unpacks ahead of the entry shown.
inline constexpr char kStagingFolder[] = "~vandrel-ahead";
// Inside it, what a cut run leaves for the next one to go on from: one folder per entry with the
// payload's part, the chunks fetched so far and the chunk index (ResumeFolderOf names it).
inline constexpr char kResumeSubfolder[] = "resume";
// In an entry's resume folder: the payload's part, the chunk index (chunks go by their ids).
inline constexpr char kResumePayload[] = "payload";
inline constexpr char kResumeIndex[] = "index";
// Beside a resumable part: the validator (ETag or date) of the body it holds the start of.
inline constexpr char kResumeTagSuffix[] = ".tag";
// A chunk or an index while it is written into a resume folder, until it is complete.
inline constexpr char kResumeTemporarySuffix[] = ".part";
// Inside the staging folder, what the install pass fetches and unpacks ahead, gone when the pass ends.
inline constexpr char kAheadSubfolder[] = "ahead";
// A listed file while it is unpacked beside itself, until it is complete and verified. As short as
// kPayloadSuffix, so a path that fits with the one fits with the other.
inline constexpr char kUnpackSuffix[] = ".~up";
// The game's own options file, edited by the settings dialog.
inline constexpr char kGameOptionsFile[] = "system\\option.ini";

// ---- temporary names beside a file that is being replaced ----------------------------------------------
// The hosts file's new version, beside it in the system's folder.
inline constexpr char kHostsTemporarySuffix[] = ".vandrel-new";
// vandrel-publish's files while it writes them into an update set (servers should not serve them).
inline constexpr char kPublishTemporarySuffix[] = ".part";

// Whether a list path names something of the launcher's own in the install folder (the settings file,
// the list and its signature, the batch file, the backup and staging folders and everything in them,
// and, when selfName is given, the launcher's new exe selfName + ".New"), compared as Windows compares
// names. Such a path is never published and never installed.
bool IsLauncherOwnedPath(const std::string& listPath, const std::string& selfName = std::string());

// The staging folder's resume folder and its ahead folder, relative to the install folder.
std::string ResumeFolder();
std::string AheadFolder();
// The resume folder of one version of a listed file (its path compared as Windows compares names, and
// its MD5), relative to the install folder: one folder per file version.
std::string ResumeFolderOf(const std::string& listPath, const std::string& digest);

// ---- addresses and store paths -------------------------------------------------------------------------
// The URL of a list path's payload: the base URL (ending with "/"), the path with "/" between folder
// names and every byte a URL cannot carry as it is (blank, "#", "?", "%", control and non-ASCII bytes,
// ...) written as %XX, then ".bz2". The one way the launcher and vandrel-publish --verify name a
// payload, whatever the HTTP backend.
std::string PayloadUrl(const std::string& baseUrl, const std::string& listPath);
// The same address with another suffix in place of ".bz2" (a chunk index's, for one).
std::string ListedFileUrl(const std::string& baseUrl, const std::string& listPath, const std::string& suffix);

// Where a chunk lives in an update set: relative to the set's folder ("\" between names), the same
// below a base URL ("/" between names), and its URL.
std::string ChunkStorePath(const TChunkId& id);
std::string ChunkUrlPath(const TChunkId& id);
std::string ChunkUrl(const std::string& baseUrl, const TChunkId& id);
// The chunk a store file FOLDER\NAME is, when it is where ChunkStorePath puts one; nothing else.
std::optional<TChunkId> StoredChunkId(const std::string& folder, const std::string& name);

// Where an object lives in an update set, relative to the set's folder: the object store folder, the
// first two digits of its name, its name and its kind's suffix; "\" between names (a path in the
// launcher's form), or "/" (a URL's path below the update URL).
std::string ObjectStorePath(TObjectKind kind, const TObjectId& id);
std::string ObjectUrlPath(TObjectKind kind, const TObjectId& id);
// The kind and id of a store file name FOLDER\NAME (as ObjectStorePath makes it), or nothing.
struct TStoredObject {
    TObjectKind kind;
    TObjectId id;
};
std::optional<TStoredObject> StoredObjectOf(const std::string& folder, const std::string& name);

} // namespace names
