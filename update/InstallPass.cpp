// The install pass, step by step: every queued entry, in queue order, is put in place by the cheapest
// way the set offers for it, and by the next way when one gives way before anything was replaced:
//   a patch from the player's version of the file   (PlaceFromPatch, PatchInstall.cpp)
//   chunks: the old file's and the ones it lacks     (PlaceFromChunks, DeltaInstall.cpp)
//   the whole payload, at the entry's turn           (PlacePayload, PayloadFetch.cpp)
//     or fetched and unpacked ahead of it            (PlaceFetchedAhead, PayloadFetch.cpp)
// A way is only taken where it costs fewer bytes than the payload. Whatever the way, the window shows
// "Загрузка", then "Извлечение", the per-file gauge following the work, and the file changes in one
// step, its digest checked. The staging folder is prepared before and cleared after (Staging.cpp).
#include "platform/Platform.h"
#include "platform/Errors.h"
#include "support/LauncherNames.h"
#include "support/LstFile.h"
#include "support/Misc.h"
#include "update/DeltaInstall.h"
#include "update/GetFilesThr.h"
#include "update/InstallAhead.h"
#include "update/PatchInstall.h"

#include <algorithm>
#include <exception>
#include <set>

void GFilesThread::InstallFiles() {
    const size_t m = InstallQueue.size();
    // However the pass ends (an error raised in it included), only what a later run can go on from
    // stays in the staging folder; what was fetched ahead goes first.
    struct TFinishStaging {
        GFilesThread& worker;
        ~TFinishStaging() { worker.FinishStaging(); }
    } finish{*this};
    const bool staging = PrepareStaging();
    PlanEntries(staging);
    std::unique_ptr<TInstallAhead> ahead = StartInstallAhead(staging);
    if (m == 0) {
        StatusText = "";
    } else {
        TargetGauge = 1;
        Progress = static_cast<int32_t>(m - 1);
        SetGaugeMax();
        bool failed = false;
        for (size_t i = 0; i < m && !Terminated();) {
            const TEntryOutcome outcome = InstallEntry(i, TFileEntry::Parse(InstallQueue[i]), ahead.get());
            if (outcome != TEntryOutcome::Placed) {
                StatusText = status::kFailed;
                failed = true;
            }
            if (outcome == TEntryOutcome::FailedStop) break;
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

GFilesThread::TEntryOutcome GFilesThread::InstallEntry(size_t i, const TFileEntry& entry, TInstallAhead* ahead) {
    if (!IsInstallablePath(entry.Path)) return TEntryOutcome::FailedGoOn;
    const TEntryPlan& plan = plans_[i];
    Show(status::kDownloading + entry.Path);
    StartFileGauge(entry.Size());
    const std::string folder = ExtractFilePath(InstallDir + entry.Path);
    if (!platform::IsFolder(folder)) platform::MakeFolders(folder);
    if (ahead && !plan.ahead) ahead->Take(i); // passed in the staging order; nothing was fetched ahead
    for (TWay way : plan.ways) {
        TWayOutcome outcome = TWayOutcome::TryNext;
        switch (way) {
        case TWay::Patch: outcome = PlaceFromPatch(entry, plan); break;
        case TWay::Chunks: outcome = PlaceFromChunks(entry, plan); break;
        case TWay::Payload:
            outcome = ahead && plan.ahead ? PlaceFetchedAhead(*ahead, i, entry, plan) : PlacePayload(entry, plan);
            break;
        }
        switch (outcome) {
        case TWayOutcome::TryNext: continue;
        case TWayOutcome::Placed:
            if (!plan.resume.Empty()) platform::DeleteFolderTree(plan.resume.Path()); // nothing of it is needed any more
            return TEntryOutcome::Placed;
        case TWayOutcome::FailedGoOn: return TEntryOutcome::FailedGoOn;
        case TWayOutcome::FailedStop: return TEntryOutcome::FailedStop;
        }
    }
    return TEntryOutcome::FailedGoOn;
}

void GFilesThread::PlanEntries(bool staging) {
    plans_.assign(InstallQueue.size(), TEntryPlan());
    std::set<std::string> resumeFolders;
    for (size_t i = 0; i < plans_.size(); ++i) {
        TEntryPlan& plan = plans_[i];
        plan.ways = {TWay::Payload};
        try {
            const TFileEntry entry = TFileEntry::Parse(InstallQueue[i]);
            if (!IsInstallablePath(entry.Path)) continue; // refused at its turn, never fetched
            if (i < queuedDigests_.size()) plan.localDigest = queuedDigests_[i];
            plan.objects = additions_.ObjectsOf(entry.Digest);
            plan.payload = {names::PayloadUrl(BaseURL, entry.Path), std::nullopt, entry.Size()};
            if (plan.objects && plan.objects->payload) plan.payload.object = plan.objects->payload;
            // One resume folder per file version; a second entry of the same file and version keeps nothing.
            if (staging) {
                const TOwnFolder resume = ResumeFolderOf(entry);
                if (resumeFolders.insert(resume.relative).second) plan.resume = resume;
            }
            if (!plan.resume.Empty() && TDeltaInstall::Offered(sources_ != nullptr, plan.objects, InstallDir + entry.Path))
                plan.ways.insert(plan.ways.begin(), TWay::Chunks);
            if (sources_ && plan.objects) {
                plan.patch = TPatchInstall::Offered(*plan.objects, plan.localDigest, InstallDir + entry.Path, entry.Size());
                if (plan.patch) plan.ways.insert(plan.ways.begin(), TWay::Patch);
            }
            plan.ahead = plan.ways.front() == TWay::Payload;
        } catch (const Exception&) {
            // left to fail at its turn
        }
    }
}

std::unique_ptr<TInstallAhead> GFilesThread::StartInstallAhead(bool staging) {
    if (!staging || InstallQueue.empty() || AheadConnections == 0 || UnpackThreads == 0) return nullptr;
    // Each entry is then fetched at its turn.
    if (!platform::MakeOwnFolders(folder_ / names::kStagingFolder, names::kAheadSubfolder)) return nullptr;
    std::vector<TAheadEntry> entries(InstallQueue.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        const TEntryPlan& plan = plans_[i];
        if (!plan.ahead || plan.payload.url.empty()) continue; // placed another way, or refused at its turn
        entries[i] = {true, plan.payload, TFileEntry::Parse(InstallQueue[i]).Digest, plan.resume};
    }
    // A short queue needs no more helpers than it has entries.
    const unsigned most = entries.size() < 64 ? static_cast<unsigned>(entries.size()) : 64u;
    try {
        return std::make_unique<TInstallAhead>(std::move(entries), folder_ / names::AheadFolder(), sources_.get(),
                                               std::min(AheadConnections, most), std::min(UnpackThreads, most),
                                               kStagedAheadBytes);
    } catch (...) {
        return nullptr; // no threads to be had: each entry is fetched at its turn
    }
}

bool GFilesThread::BackUpAndPlace(const std::string& path, const std::function<void(const std::string&)>& place,
                                  bool extractingShown) {
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
        if (!extractingShown) Show(status::kExtracting + path);
        place(local);
        return true;
    } catch (...) {
        return false;
    }
}

GFilesThread::TWayOutcome GFilesThread::WriteInPlace(const TFileEntry& entry,
                                                     const std::function<void(platform::File&)>& write) {
    bool writeFailed = false;
    const bool placed = BackUpAndPlace(entry.Path, [&](const std::string& destination) {
        StartFileGauge(entry.Size());
        struct TGaugeBackToZero {
            GFilesThread& worker;
            ~TGaugeBackToZero() {
                try {
                    worker.MoveFileGauge(0, true);
                } catch (...) {
                    // the window is gone; the writing's own outcome is the one to report
                }
            }
        } backToZero{*this};
        platform::Replacement written(destination, names::kUnpackSuffix);
        try {
            write(written.Output());
        } catch (...) {
            writeFailed = true;
            throw;
        }
        if (!written.Commit()) throw EInOutError(IoError::AccessDenied);
    });
    if (placed) return TWayOutcome::Placed;
    if (!writeFailed) return TWayOutcome::FailedGoOn;
    // The next way starts from the entry's start on the window.
    Show(status::kDownloading + entry.Path);
    StartFileGauge(entry.Size());
    return TWayOutcome::TryNext;
}
