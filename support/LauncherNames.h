// Every name the launcher uses in the install folder and on the update server, and the one rule for
// which of them a client may never list. The launcher, vandrel-publish (its never-publish rule) and
// vandrel-publish --verify all take their names from here, so they cannot drift apart.
#pragma once

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
// payload's part, the chunks fetched so far and the chunk index.
inline constexpr char kResumeFolder[] = "~vandrel-ahead\\resume";
// In an entry's resume folder: the payload's part, the chunk index (chunks go by their ids).
inline constexpr char kResumePayload[] = "payload";
// Beside a resumable part: the validator (ETag or date) of the body it holds the start of.
inline constexpr char kResumeTagSuffix[] = ".tag";
inline constexpr char kResumeIndex[] = "index";
// What the install pass fetches and unpacks ahead, gone when the pass ends.
inline constexpr char kAheadFolder[] = "~vandrel-ahead\\ahead";
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

} // namespace names
