// The check pass (which listed files are missing or different) and the install pass (download,
// backup, unpack).
#include "platform/Platform.h"
#include "platform/Errors.h"
#include "support/LauncherNames.h"
#include "support/LstFile.h"
#include "support/Misc.h"
#include "support/SafeNames.h"
#include "support/md5.h"
#include "update/DigestAhead.h"
#include "update/DeltaInstall.h"
#include "update/InstallAhead.h"
#include "update/GetFilesThr.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <optional>
#include <set>

bool GFilesThread::IsInstallablePath(const std::string& path) const {
    // The launcher's new exe is its own file as much as the settings file is.
    return IsSafeRelativePath(path) && !names::IsLauncherOwnedPath(path, selfName_);
}

void GFilesThread::CheckFiles(const TStringList& lines) {
    const size_t n = lines.size();
    if (n == 0 || lines.front() == kListFail || Terminated()) return;
    Show(status::kChecking);
    TargetGauge = 1;
    Progress = static_cast<int32_t>(n - 1);
    SetGaugeMax();
    std::unique_ptr<TDigestAhead> ahead;
    if (DigestThreads > 0) {
        // The files the entries name, for the digests ahead; an entry that does not read is left to
        // raise below, at its own turn.
        std::vector<std::string> files(n);
        for (size_t i = 0; i < n; ++i) {
            try {
                const std::string path = TFileEntry::Parse(lines[i]).Path;
                if (IsInstallablePath(path)) files[i] = InstallDir + path;
            } catch (const Exception&) {
            }
        }
        ahead = std::make_unique<TDigestAhead>(std::move(files), DigestThreads, 2 * size_t(DigestThreads));
    }
    for (size_t i = 0; i < n; ++i) {
        if (Cancelled()) break;
        Progress = static_cast<int32_t>(i);
        ReportTotalProgress(false);
        const TFileEntry entry = TFileEntry::Parse(lines[i]);
        const std::string& path = entry.Path;
        Show(std::string(status::kChecking) + " " + path);

        // Two spellings of one name are one file on Windows: the first entry decides it, and a later
        // one that differs only in letter case is passed over, so a list cannot make every run
        // replace the file with the other one.
        const auto [first, fresh] = checkedNames_.emplace(FoldCase(path), path);
        if (!fresh && first->second != path) continue;

        bool outdated = true;
        // A path that leads outside the install folder is never looked at; the install pass refuses it.
        if (IsInstallablePath(path)) {
            // A payload or an unpacked temporary left by a run that was killed is removed.
            platform::RemoveFile(InstallDir + path + names::kPayloadSuffix);
            platform::RemoveFile(InstallDir + path + names::kUnpackSuffix);
            if (platform::IsFile(InstallDir + path)) {
                std::optional<std::string> digest;
                if (ahead) digest = ahead->Take(i);
                if (!digest) { // digested here: no helpers, or the file appeared after they looked
                    TMD5Digest value;
                    DigestFile(InstallDir + path, value);
                    digest = DigestToHex(value);
                }
                outdated = *digest != entry.Digest;
            }
        }
        if (outdated) {
            InstallQueue.push_back(lines[i]);
            entry.Size(); // a size that is no number ends the run here
        }
    }
    Progress = 0;
    ReportTotalProgress(true);
    Show("");
}

bool GFilesThread::BackUpAndPlace(const std::string& path, const std::function<void(const std::string&)>& place) {
    const std::string local = InstallDir + path;
    try {
        if (MakeBackup == 1) {
            // The backup folder and every folder the launcher makes in it are its own: none of them
            // is entered through a link, and the copy is made as a new file.
            const std::string relativeFolder = ExtractFilePath(path);
            if (!platform::MakeOwnFolders(folder_ / names::kBackupFolder, relativeFolder))
                throw EInOutError(IoError::AccessDenied);
            // No old file yet: no copy, no error.
            platform::CopyFileReplacing(local, folder_ / names::kBackupFolder + "\\" + path);
        }
        Show(status::kExtracting + path);
        place(local);
        return true;
    } catch (...) {
        return false;
    }
}

namespace {
// Whether a file of this name can be created where it is to go (the folder exists, the name is not too
// long); the file is removed again.
bool CanCreate(const std::string& path) {
    try {
        platform::File::Create(path).Close();
    } catch (const Exception&) {
        return false;
    }
    platform::RemoveFile(path);
    return true;
}

// Moves a file unpacked in the staging folder into place; where a folder of the game is on another
// volume, it is copied beside its destination first, so the file still changes in one step.
void MoveIntoPlace(const std::string& staged, const std::string& destination) {
    if (platform::MoveFileReplacing(staged, destination)) return;
    platform::Replacement copy(destination, names::kUnpackSuffix);
    CopyFileInto(staged, copy.Output());
    if (!copy.Commit()) throw EInOutError(IoError::AccessDenied);
}
} // namespace

GFilesThread::TEntryOutcome GFilesThread::FetchAndPlace(const std::string& path, const TFileEntry& entry,
                                                        const TOwnFolder& resume) {
    const std::string local = InstallDir + path;
    std::string payload = local + names::kPayloadSuffix;
    TDownloadResult fetched;
    // Never more than the list's size of the payload is kept, resumed or not.
    const int64_t bound = entry.Size();
    // Where the path can take its payload, a download cut short is kept to be taken up by the next run.
    if (!resume.Empty() && CanCreate(payload) && resume.Make()) {
        const platform::OwnName part = resume / names::kResumePayload;
        payload = part.Path();
        fetched = FetchResumable(PayloadUrl(BaseURL, path), part, bound);
    } else {
        fetched = Fetch(PayloadUrl(BaseURL, path), payload, true, bound);
    }
    // A path the system cannot create (too long) fails like a refused one, and a payload longer than
    // the list says like one that does not unpack: the pass goes on.
    if (fetched == TDownloadResult::CannotCreate || fetched == TDownloadResult::TooLarge)
        return TEntryOutcome::FailedGoOn;
    if (fetched != TDownloadResult::Complete) return TEntryOutcome::FailedStop;
    const bool placed = BackUpAndPlace(path, [&](const std::string& destination) {
        UnpackInPlace(payload, destination, entry.Digest);
    });
    return placed ? TEntryOutcome::Placed : TEntryOutcome::FailedGoOn;
}

std::optional<GFilesThread::TEntryOutcome> GFilesThread::PlaceFromChunks(const std::string& path,
                                                                         const TFileEntry& entry,
                                                                         const TOwnFolder& resume) {
    TDeltaInstall delta({BaseURL, path, entry.Digest, InstallDir + path, resume}, ChunkConnections,
                        UnpackThreads == 0 ? 1 : UnpackThreads, control_->Terminated);
    // The per-file gauge shows the payload's size as always; the chunks fetched fill it.
    const int64_t gauge = entry.Size();
    const auto show = [&](int64_t done, int64_t total) {
        Progress = static_cast<int32_t>(total > 0 ? done * gauge / total : gauge);
        ReportFileProgress(false);
    };
    const TDeltaInstall::TFetched fetched = delta.Fetch(show);
    Progress = 0;
    ReportFileProgress(true);
    // No usable index, or a chunk that did not come as named: the payload, in this same run.
    if (fetched != TDeltaInstall::TFetched::Ready) return std::nullopt;
    bool assemblyFailed = false;
    const bool placed = BackUpAndPlace(path, [&](const std::string& destination) {
        // Assembled beside the old file, which lends its chunks and stays whole until the new one,
        // its digest checked, takes its place.
        TargetGauge = 0;
        Progress = static_cast<int32_t>(gauge);
        SetGaugeMax();
        struct TGaugeBackToZero {
            GFilesThread& worker;
            ~TGaugeBackToZero() {
                worker.Progress = 0;
                try {
                    worker.ReportFileProgress(true);
                } catch (...) {
                    // the window is gone; the assembly's own outcome is the one to report
                }
            }
        } backToZero{*this};
        platform::Replacement assembled(destination, names::kUnpackSuffix);
        try {
            delta.Assemble(assembled.Output(), show);
        } catch (...) {
            assemblyFailed = true;
            throw;
        }
        if (!assembled.Commit()) throw EInOutError(IoError::AccessDenied);
    });
    if (placed) return TEntryOutcome::Placed;
    if (!assemblyFailed) return TEntryOutcome::FailedGoOn;
    // Chunks that each came as named but do not make the listed file: the index is not to be trusted,
    // and the payload is fetched instead, as for a set without chunks.
    Show(status::kDownloading + path);
    TargetGauge = 0;
    Progress = static_cast<int32_t>(gauge);
    SetGaugeMax();
    return std::nullopt;
}

GFilesThread::TEntryOutcome GFilesThread::PlaceFetchedAhead(TInstallAhead& ahead, size_t i, const std::string& path,
                                                            int32_t payloadSize) {
    TAheadResult result = ahead.Take(i);
    Progress = 0;
    ReportFileProgress(true); // the per-file gauge ends at 0, as after a download here
    if (result.FetchError) std::rethrow_exception(result.FetchError);
    // The outcomes in the order a download here would meet them: the address, the local file, the body.
    if (result.Fetched == TDownloadResult::CannotOpen) return TEntryOutcome::FailedStop;
    if (!CanCreate(InstallDir + path + names::kPayloadSuffix)) return TEntryOutcome::FailedGoOn;
    if (result.Fetched == TDownloadResult::Cut) return TEntryOutcome::FailedStop;
    if (result.Fetched != TDownloadResult::Complete) return TEntryOutcome::FailedGoOn;
    const bool placed = BackUpAndPlace(path, [&](const std::string& destination) {
        // The per-file gauge goes through an unpack's start and end, as when the file is unpacked here.
        TargetGauge = 0;
        Progress = payloadSize;
        SetGaugeMax();
        Progress = 0;
        ReportFileProgress(true);
        if (!result.Unpacked) throw EInOutError(IoError::ReadFault);
        MoveIntoPlace(result.Output, destination);
    });
    return placed ? TEntryOutcome::Placed : TEntryOutcome::FailedGoOn;
}

namespace {
// The bytes of the files in a folder of the launcher's own (links count as nothing).
int64_t FolderBytes(const std::string& folder) {
    int64_t total = 0;
    for (const std::string& name : platform::ListFolder(folder)) {
        platform::File file = platform::File::TryOpenRead(folder + "\\" + name);
        if (file.IsOpen() && !platform::IsLink(folder + "\\" + name)) total += file.Size();
    }
    return total;
}

// Whether an entry's resume folder holds anything a later run can go on from: a part with the validator
// that names its body, the chunk index, or chunks. A part without its validator cannot go on.
bool WorthKeeping(const std::string& folder) {
    for (const std::string& name : platform::ListFolder(folder)) {
        if (name == names::kResumePayload) {
            if (platform::IsFile(folder + "\\" + name + names::kResumeTagSuffix)) return true;
        } else if (name != std::string(names::kResumePayload) + names::kResumeTagSuffix) {
            return true;
        }
    }
    return false;
}
} // namespace

bool GFilesThread::PrepareStaging() {
    const std::string staging = folder_ / names::kStagingFolder;
    // A link planted on the staging folder goes as a link where the system can remove it; what a killed
    // run left ahead goes too, while what it left to resume stays for the entries that still need it.
    if (platform::IsLink(staging) || platform::IsFile(staging)) platform::DeleteFolderTree(staging);
    platform::DeleteFolderTree(folder_ / names::kAheadFolder);
    plans_.assign(InstallQueue.size(), TEntryPlan());
    const std::string resume = folder_ / names::kResumeFolder;
    if (!platform::MakeOwnFolders(staging, "resume")) return false; // a link nobody can remove: nothing is staged
    std::set<std::string> kept;
    int64_t queuedPayloads = 0;
    for (size_t i = 0; i < plans_.size(); ++i) {
        try {
            const TFileEntry entry = TFileEntry::Parse(InstallQueue[i]);
            if (!IsInstallablePath(entry.Path)) continue;
            // One folder per file version; a second entry of the same file and version keeps nothing.
            TMD5Context key;
            const std::string name = FoldCase(entry.Path) + "|" + entry.Digest;
            key.Update(name.data(), name.size());
            TMD5Digest digest;
            key.Final(digest);
            if (!kept.insert(DigestToHex(digest)).second) continue;
            plans_[i].resume = TOwnFolder(folder_, std::string(names::kResumeFolder) + "\\" + DigestToHex(digest));
            plans_[i].fromChunks = TDeltaInstall::Worthwhile(InstallDir + entry.Path);
            queuedPayloads += std::max<int64_t>(0, entry.Size());
        } catch (const Exception&) {
            // left to fail at its turn
        }
    }
    // What a cut run left is bounded: a part never holds more than its payload, and the chunks fetched
    // for a file about as much. Beyond twice the queue's payloads (and a little for the indexes) it is
    // not what the launcher left, and the largest folders go until it fits.
    const int64_t cap = 2 * queuedPayloads + (int64_t(64) << 20);
    std::vector<std::pair<int64_t, std::string>> folders;
    int64_t staged = 0;
    for (const std::string& name : platform::ListFolder(resume)) {
        const std::string folder = resume + "\\" + name;
        if (!kept.count(name) || platform::IsLink(folder)) {
            platform::DeleteFolderTree(folder);
            continue;
        }
        folders.emplace_back(FolderBytes(folder), folder);
        staged += folders.back().first;
    }
    std::sort(folders.rbegin(), folders.rend());
    for (const auto& [bytes, folder] : folders) {
        if (staged <= cap) break;
        platform::DeleteFolderTree(folder);
        staged -= bytes;
    }
    return true;
}

void GFilesThread::FinishStaging() {
    const std::string staging = folder_ / names::kStagingFolder;
    if (!platform::IsFolder(staging) || platform::IsLink(staging)) return;
    // Only what a later run can go on from stays; the staging folder goes once it holds nothing.
    const std::string resume = folder_ / names::kResumeFolder;
    for (const std::string& name : platform::ListFolder(resume)) {
        const std::string folder = resume + "\\" + name;
        if (platform::IsLink(folder) || !WorthKeeping(folder)) platform::DeleteFolderTree(folder);
    }
    if (platform::ListFolder(resume).empty()) platform::DeleteFolderTree(staging);
}

std::unique_ptr<TInstallAhead> GFilesThread::StartInstallAhead(bool staging) {
    if (!staging || InstallQueue.empty() || AheadConnections == 0 || UnpackThreads == 0) return nullptr;
    // Each entry is then fetched at its turn.
    if (!platform::MakeOwnFolders(folder_ / names::kStagingFolder, "ahead")) return nullptr;
    std::vector<TAheadEntry> entries(InstallQueue.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        if (plans_[i].fromChunks) continue; // installed from chunks at its turn, or fetched then
        try {
            const TFileEntry entry = TFileEntry::Parse(InstallQueue[i]);
            if (!IsInstallablePath(entry.Path)) continue; // refused at its turn, never fetched
            entries[i] = {PayloadUrl(BaseURL, entry.Path), entry.Digest, entry.Size(), plans_[i].resume};
        } catch (const Exception&) {
            // left to fail at its turn
        }
    }
    // A short queue needs no more helpers than it has entries.
    const unsigned most = entries.size() < 64 ? static_cast<unsigned>(entries.size()) : 64u;
    try {
        return std::make_unique<TInstallAhead>(std::move(entries), folder_ / names::kAheadFolder,
                                               std::min(AheadConnections, most), std::min(UnpackThreads, most),
                                               kStagedAheadBytes);
    } catch (...) {
        return nullptr; // no threads to be had: each entry is fetched at its turn
    }
}

void GFilesThread::InstallFiles() {
    const size_t m = InstallQueue.size();
    // However the pass ends (an error raised in it included), only what a later run can go on from
    // stays in the staging folder; what was fetched ahead goes first.
    struct TFinishStaging {
        GFilesThread& worker;
        ~TFinishStaging() { worker.FinishStaging(); }
    } finish{*this};
    std::unique_ptr<TInstallAhead> ahead = StartInstallAhead(PrepareStaging());
    if (m == 0) {
        StatusText = "";
    } else {
        TargetGauge = 1;
        Progress = static_cast<int32_t>(m - 1);
        SetGaugeMax();
        bool failed = false;
        size_t i = 0;
        while (i < m && !Terminated()) {
            const TFileEntry entry = TFileEntry::Parse(InstallQueue[i]);
            const std::string& path = entry.Path;
            if (!IsInstallablePath(path)) {
                StatusText = status::kFailed;
                failed = true;
            } else {
                Show(status::kDownloading + path);
                TargetGauge = 0;
                Progress = entry.Size();
                SetGaugeMax();
                const std::string folder = ExtractFilePath(InstallDir + path);
                if (!platform::IsFolder(folder)) platform::MakeFolders(folder);
                const TEntryPlan& plan = plans_[i];
                std::optional<TEntryOutcome> outcome;
                if (plan.fromChunks) {
                    if (ahead) ahead->Take(i); // passed in the staging order; nothing was fetched ahead
                    outcome = PlaceFromChunks(path, entry, plan.resume);
                    if (!outcome) outcome = FetchAndPlace(path, entry, plan.resume);
                } else {
                    outcome = ahead ? PlaceFetchedAhead(*ahead, i, path, entry.Size())
                                    : FetchAndPlace(path, entry, plan.resume);
                }
                if (*outcome == TEntryOutcome::Placed && !plan.resume.Empty())
                    platform::DeleteFolderTree(plan.resume.Path()); // nothing of it is needed any more
                if (*outcome != TEntryOutcome::Placed) {
                    StatusText = status::kFailed;
                    failed = true;
                }
                if (*outcome == TEntryOutcome::FailedStop) break;
            }
            ++i;
            TargetGauge = 1;
            Progress = static_cast<int32_t>(i);
            ReportTotalProgress(false);
        }
        // Whatever was fetched or unpacked ahead and not placed goes before the run reports its end.
        ahead.reset();
        Progress = 0;
        ReportTotalProgress(true);
        if (failed)
            StatusText = status::kFailed;
        else if (!Cancelled())
            StatusText = status::kAllUpdated;
    }
    if (Cancelled()) StatusText = status::kInterrupted;
}
