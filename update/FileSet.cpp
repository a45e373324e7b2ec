// The check pass (which listed files are missing or different) and the install pass (download,
// backup, unpack).
#include "platform/Platform.h"
#include "support/Errors.h"
#include "support/LstFile.h"
#include "support/SafeNames.h"
#include "support/md5.h"
#include "update/DigestAhead.h"
#include "update/GetFilesThr.h"

#include <memory>

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
                if (IsSafeRelativePath(path)) files[i] = InstallDir + path;
            } catch (const Exception&) {
            }
        }
        ahead = std::make_unique<TDigestAhead>(std::move(files), DigestThreads, 2 * size_t(DigestThreads));
    }
    for (size_t i = 0; i < n; ++i) {
        if (Cancelled()) break;
        Progress = static_cast<int32_t>(i);
        SetTotalProgress();
        const TFileEntry entry = TFileEntry::Parse(lines[i]);
        const std::string& path = entry.Path;
        Show(std::string(status::kChecking) + " " + path);

        bool outdated = true;
        // A path that leads outside the install folder is never looked at; the install pass refuses it.
        if (IsSafeRelativePath(path)) {
            // A payload or an unpacked temporary left by a run that was killed is removed.
            platform::RemoveFile(InstallDir + path + kPayloadSuffix);
            platform::RemoveFile(InstallDir + path + kUnpackSuffix);
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
    SetTotalProgress();
    Show("");
}

bool GFilesThread::BackUpAndUnpack(const std::string& path, const std::string& digest) {
    const std::string local = InstallDir + path;
    try {
        if (MakeBackup == 1) {
            const std::string backup = InstallDir + "backup\\" + path;
            const std::string backupFolder = ExtractFilePath(backup);
            if (!platform::IsFolder(backupFolder) && !platform::MakeFolders(backupFolder))
                throw EInOutError(IoError::AccessDenied);
            platform::CopyFileReplacing(local, backup); // no old file yet: no copy, no error
        }
        Show(status::kExtracting + path);
        UnpackInPlace(local + ".bz2", local, digest);
        return true;
    } catch (...) {
        return false;
    }
}

void GFilesThread::InstallFiles() {
    const size_t m = InstallQueue.size();
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
            if (!IsSafeRelativePath(path)) {
                StatusText = status::kFailed;
                failed = true;
            } else {
                Show(status::kDownloading + path);
                TargetGauge = 0;
                Progress = entry.Size();
                SetGaugeMax();
                const std::string local = InstallDir + path;
                const std::string folder = ExtractFilePath(local);
                if (!platform::IsFolder(folder)) platform::MakeFolders(folder);
                const TDownloadResult fetched = Fetch(PayloadUrl(BaseURL, path), local + ".bz2", true);
                if (fetched == TDownloadResult::CannotCreate) {
                    // A path the system cannot create (too long) fails like a refused one; the pass goes on.
                    StatusText = status::kFailed;
                    failed = true;
                } else if (fetched != TDownloadResult::Complete) {
                    StatusText = status::kFailed;
                    failed = true;
                    break;
                } else if (!BackUpAndUnpack(path, entry.Digest)) {
                    StatusText = status::kFailed;
                    failed = true;
                }
            }
            ++i;
            TargetGauge = 1;
            Progress = static_cast<int32_t>(i);
            SetTotalProgress();
        }
        Progress = 0;
        SetTotalProgress();
        if (failed)
            StatusText = status::kFailed;
        else if (!Cancelled())
            StatusText = status::kAllUpdated;
    }
    if (Cancelled()) StatusText = status::kInterrupted;
}
