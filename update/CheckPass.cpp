// The check pass: which listed files are missing or different. Each one that is goes into the install
// queue, with its local file's MD5 (which a patch may start from).
#include "platform/Platform.h"
#include "platform/Errors.h"
#include "support/LauncherNames.h"
#include "support/LstFile.h"
#include "support/Misc.h"
#include "support/SafeNames.h"
#include "support/md5.h"
#include "update/DigestAhead.h"
#include "update/GetFilesThr.h"

#include <chrono>
#include <memory>
#include <optional>

bool GFilesThread::IsInstallablePath(const std::string& path) const {
    // The launcher's new exe is its own file as much as the settings file is.
    return IsSafeRelativePath(path) && !names::IsLauncherOwnedPath(path, selfName_);
}

std::optional<std::string> GFilesThread::TakeDigest(TDigestAhead& ahead, size_t i, const std::string& file) {
    // A file that keeps the pass waiting more than a second shows on the per-file gauge as it is read;
    // the many small ones cost the window nothing.
    const auto started = std::chrono::steady_clock::now();
    bool shown = false;
    std::optional<std::string> digest = ahead.Take(i, [&](int64_t read) {
        if (!shown) {
            if (std::chrono::steady_clock::now() - started < std::chrono::seconds(1)) return;
            platform::File opened = platform::File::TryOpenRead(file);
            if (!opened.IsOpen()) return;
            shown = true;
            StartFileGauge(opened.Size());
        }
        MoveFileGauge(read);
    });
    if (shown) MoveFileGauge(0, true);
    return digest;
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
        try {
            ahead = std::make_unique<TDigestAhead>(std::move(files), DigestThreads, 2 * size_t(DigestThreads));
        } catch (...) {
            // no threads to be had: each file is digested at its turn
        }
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
        std::string local; // the local file's MD5, when it has one
        // A path that leads outside the install folder is never looked at; the install pass refuses it.
        if (IsInstallablePath(path)) {
            // A payload (and its validator) or an unpacked temporary that a killed run left is removed.
            platform::RemoveFile(InstallDir + path + names::kPayloadSuffix);
            platform::RemoveFile(InstallDir + path + names::kPayloadSuffix + names::kResumeTagSuffix);
            platform::RemoveFile(InstallDir + path + names::kUnpackSuffix);
            if (platform::IsFile(InstallDir + path)) {
                std::optional<std::string> digest;
                if (ahead) digest = TakeDigest(*ahead, i, InstallDir + path);
                if (!digest) { // digested here: no helpers, or the file appeared after they looked
                    TMD5Digest value;
                    DigestFile(InstallDir + path, value);
                    digest = DigestToHex(value);
                }
                outdated = *digest != entry.Digest;
                local = *digest;
            }
        }
        if (outdated) {
            InstallQueue.push_back(lines[i]);
            queuedDigests_.push_back(local);
            entry.Size(); // a size that is no number ends the run here
        }
    }
    Progress = 0;
    ReportTotalProgress(true);
    Show("");
}

