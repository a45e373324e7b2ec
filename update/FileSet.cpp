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
#include "update/InstallAhead.h"
#include "update/GetFilesThr.h"

#include <algorithm>
#include <exception>
#include <memory>

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

GFilesThread::TEntryOutcome GFilesThread::FetchAndPlace(const std::string& path, const std::string& digest) {
    const std::string local = InstallDir + path;
    const TDownloadResult fetched = Fetch(PayloadUrl(BaseURL, path), local + names::kPayloadSuffix, true);
    // A path the system cannot create (too long) fails like a refused one; the pass goes on.
    if (fetched == TDownloadResult::CannotCreate) return TEntryOutcome::FailedGoOn;
    if (fetched != TDownloadResult::Complete) return TEntryOutcome::FailedStop;
    const bool placed = BackUpAndPlace(path, [&](const std::string& destination) {
        UnpackInPlace(destination + names::kPayloadSuffix, destination, digest);
    });
    return placed ? TEntryOutcome::Placed : TEntryOutcome::FailedGoOn;
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

std::unique_ptr<TInstallAhead> GFilesThread::StartInstallAhead() {
    const std::string staging = folder_ / names::kStagingFolder;
    // A run that was killed may have left its staging folder (a link planted there goes as a link).
    platform::DeleteFolderTree(staging);
    if (InstallQueue.empty() || AheadConnections == 0 || UnpackThreads == 0) return nullptr;
    // A link on the name that cannot be removed is never entered: each entry is then fetched at its turn.
    if (!platform::MakeOwnFolders(staging)) return nullptr;
    std::vector<TAheadEntry> entries(InstallQueue.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        try {
            const TFileEntry entry = TFileEntry::Parse(InstallQueue[i]);
            if (!IsInstallablePath(entry.Path)) continue; // refused at its turn, never fetched
            entries[i] = {PayloadUrl(BaseURL, entry.Path), entry.Digest, entry.Size()};
        } catch (const Exception&) {
            // left to fail at its turn
        }
    }
    // A short queue needs no more helpers than it has entries.
    const unsigned most = entries.size() < 64 ? static_cast<unsigned>(entries.size()) : 64u;
    return std::make_unique<TInstallAhead>(std::move(entries), staging, std::min(AheadConnections, most),
                                           std::min(UnpackThreads, most), kStagedAheadBytes);
}

void GFilesThread::InstallFiles() {
    const size_t m = InstallQueue.size();
    std::unique_ptr<TInstallAhead> ahead = StartInstallAhead();
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
                const TEntryOutcome outcome =
                    ahead ? PlaceFetchedAhead(*ahead, i, path, entry.Size()) : FetchAndPlace(path, entry.Digest);
                if (outcome != TEntryOutcome::Placed) {
                    StatusText = status::kFailed;
                    failed = true;
                }
                if (outcome == TEntryOutcome::FailedStop) break;
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
