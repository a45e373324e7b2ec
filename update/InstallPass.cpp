// The install pass: every queued entry, in queue order, is put in place by the cheapest way the set
// offers for it, and by the next way when one gives way before anything was replaced: a patch from the
// player's version of the file, chunks (those of the player's old file and the ones it lacks) where
// the set has them, else the whole payload, fetched at the entry's turn or ahead of it. A way is only
// taken where it costs fewer bytes than the payload. Whatever the way, the window shows "Загрузка", then "Извлечение",
// the per-file gauge following the work, and the file changes in one step, its digest checked.
#include "platform/Platform.h"
#include "platform/Errors.h"
#include "support/LauncherNames.h"
#include "support/LstFile.h"
#include "support/Misc.h"
#include "support/md5.h"
#include "update/DeltaInstall.h"
#include "update/GetFilesThr.h"
#include "update/InstallAhead.h"
#include "update/PatchInstall.h"

#include <algorithm>
#include <exception>
#include <set>

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

// How a payload's download ends an entry: the address or the connection failed (the pass stops), or
// the file or its bytes are wrong (the entry alone fails).
enum class TFetchVerdict { Fetched, FailedGoOn, FailedStop };
TFetchVerdict VerdictOf(TDownloadResult result) {
    switch (result) {
    case TDownloadResult::Complete: return TFetchVerdict::Fetched;
    case TDownloadResult::CannotCreate: // a path the system cannot create (too long)
    case TDownloadResult::TooLarge:     // longer than the list says
    case TDownloadResult::Damaged:      // no source had the bytes the list names
        return TFetchVerdict::FailedGoOn;
    case TDownloadResult::CannotOpen:
    case TDownloadResult::Cut: return TFetchVerdict::FailedStop;
    }
    return TFetchVerdict::FailedStop;
}

} // namespace

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
            // Chunks where the set has an index for this version: a set with objects says which files
            // have one; in a classic set, one is asked for only where a large old file could lend chunks.
            const bool indexed = sources_ ? plan.objects && plan.objects->index
                                          : TDeltaInstall::Worthwhile(InstallDir + entry.Path);
            if (!plan.resume.Empty() && indexed) plan.ways.insert(plan.ways.begin(), TWay::Chunks);
            // A patch from the player's very version comes first: the publisher writes one only where
            // it costs less than the chunks that version would need, and it is taken only where it costs
            // less than the payload and the old file fits in memory.
            if (sources_ && plan.objects && !plan.localDigest.empty()) {
                for (const TPatchRef& patch : plan.objects->patches) {
                    if (!SameDigest(patch.fromDigest, plan.localDigest) || patch.object.size >= entry.Size()) continue;
                    platform::File old = platform::File::TryOpenRead(InstallDir + entry.Path);
                    if (!old.IsOpen() || !TPatchInstall::Fits(old.Size())) break;
                    plan.patch = &patch;
                    plan.ways.insert(plan.ways.begin(), TWay::Patch);
                    break;
                }
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

// ---- the payload ----------------------------------------------------------------------------------

GFilesThread::TWayOutcome GFilesThread::PlacePayload(const TFileEntry& entry, const TEntryPlan& plan) {
    const std::string local = InstallDir + entry.Path;
    // Where the path can take its payload, a download cut short is kept to be taken up by the next run.
    const bool resumable = !plan.resume.Empty() && CanCreate(local + names::kPayloadSuffix) && plan.resume.Make();
    const platform::OwnName payload = resumable ? plan.resume / names::kResumePayload : PayloadBeside(local);
    // The entry in hand is fetched to its end, even when the run is told to stop meanwhile.
    const std::atomic<bool> never{false};
    MoveFileGauge(0);
    const TDownloadResult fetched = FetchPayload(plan.payload, sources_.get(), payload, resumable,
                                                 [&](int64_t have) { MoveFileGauge(have); }, never);
    MoveFileGauge(0, true);
    switch (VerdictOf(fetched)) {
    case TFetchVerdict::FailedGoOn: return TWayOutcome::FailedGoOn;
    case TFetchVerdict::FailedStop: return TWayOutcome::FailedStop;
    case TFetchVerdict::Fetched: break;
    }
    const bool placed = BackUpAndPlace(entry.Path, [&](const std::string& destination) {
        UnpackInPlace(payload.Path(), destination, entry.Digest);
    });
    return placed ? TWayOutcome::Placed : TWayOutcome::FailedGoOn;
}

GFilesThread::TWayOutcome GFilesThread::PlaceFetchedAhead(TInstallAhead& ahead, size_t i, const TFileEntry& entry,
                                                          const TEntryPlan& plan) {
    // While the entry is still on its way, the per-file gauge follows its bytes, and its unpacking as
    // an unpacking here would show it.
    bool extracting = false;
    TAheadResult result = ahead.Take(i, [&](const TAheadProgress& progress) {
        if (progress.unpacking && !extracting) {
            extracting = true;
            MoveFileGauge(0, true);
            Show(status::kExtracting + entry.Path);
            StartFileGauge(plan.payload.size);
        }
        MoveFileGauge(progress.bytes);
    });
    MoveFileGauge(0, true); // the per-file gauge ends at 0, as after a download here
    if (result.FetchError) std::rethrow_exception(result.FetchError);
    // The outcomes in the order a download here would meet them: the address, the local file, the body.
    if (result.Fetched == TDownloadResult::CannotOpen) return TWayOutcome::FailedStop;
    if (!CanCreate(InstallDir + entry.Path + names::kPayloadSuffix)) return TWayOutcome::FailedGoOn;
    switch (VerdictOf(result.Fetched)) {
    case TFetchVerdict::FailedGoOn: return TWayOutcome::FailedGoOn;
    case TFetchVerdict::FailedStop: return TWayOutcome::FailedStop;
    case TFetchVerdict::Fetched: break;
    }
    const bool placed = BackUpAndPlace(
        entry.Path,
        [&](const std::string& destination) {
            if (!extracting) {
                // The per-file gauge goes through an unpack's start and end, as when the file is unpacked here.
                StartFileGauge(plan.payload.size);
                MoveFileGauge(0, true);
            }
            if (!result.Unpacked) throw EInOutError(IoError::ReadFault);
            MoveIntoPlace(result.Output, destination);
        },
        extracting);
    return placed ? TWayOutcome::Placed : TWayOutcome::FailedGoOn;
}

// ---- a patch --------------------------------------------------------------------------------------

GFilesThread::TWayOutcome GFilesThread::PlaceFromPatch(const TFileEntry& entry, const TEntryPlan& plan) {
    TPatchInstall patch(*plan.patch, InstallDir + entry.Path, entry.Digest, *sources_, control_->Terminated);
    // The per-file gauge shows the payload's size as always; the patch's bytes fill it.
    const int64_t gauge = entry.Size();
    const auto show = [&](int64_t done, int64_t total) {
        MoveFileGauge(total > 0 ? static_cast<int64_t>(static_cast<double>(done) / static_cast<double>(total) *
                                                       static_cast<double>(gauge))
                                : gauge);
    };
    MoveFileGauge(0);
    const bool fetched = patch.Fetch(show);
    MoveFileGauge(0, true);
    if (!fetched) return TWayOutcome::TryNext; // no source had it as the list names it
    bool applyFailed = false;
    const bool placed = BackUpAndPlace(entry.Path, [&](const std::string& destination) {
        // Written beside the old file, which the patch reads from until the new one, its digest
        // checked, takes its place.
        StartFileGauge(gauge);
        platform::Replacement patched(destination, names::kUnpackSuffix);
        try {
            patch.Apply(patched.Output(), show);
        } catch (...) {
            applyFailed = true;
            MoveFileGauge(0, true);
            throw;
        }
        MoveFileGauge(0, true);
        if (!patched.Commit()) throw EInOutError(IoError::AccessDenied);
    });
    if (placed) return TWayOutcome::Placed;
    if (!applyFailed) return TWayOutcome::FailedGoOn;
    // A patch that does not make the listed file from this old one: the next way, from the entry's start.
    Show(status::kDownloading + entry.Path);
    StartFileGauge(gauge);
    return TWayOutcome::TryNext;
}

// ---- chunks -----------------------------------------------------------------------------------------

GFilesThread::TWayOutcome GFilesThread::PlaceFromChunks(const TFileEntry& entry, const TEntryPlan& plan) {
    TDeltaSource source{BaseURL, entry.Path, entry.Digest, InstallDir + entry.Path, plan.resume, sources_.get(),
                        plan.objects ? plan.objects->index : std::nullopt, plan.payload.size};
    TDeltaInstall delta(source, ChunkConnections, UnpackThreads == 0 ? 1 : UnpackThreads, control_->Terminated);
    // The per-file gauge shows the payload's size as always; the chunks fetched fill it.
    const int64_t gauge = entry.Size();
    const auto show = [&](int64_t done, int64_t total) {
        MoveFileGauge(total > 0 ? static_cast<int64_t>(static_cast<double>(done) / static_cast<double>(total) *
                                                       static_cast<double>(gauge))
                                : gauge);
    };
    const TDeltaInstall::TFetched fetched = delta.Fetch(show);
    MoveFileGauge(0, true);
    // No usable index, chunks that cost no less than the payload, or a chunk that did not come as
    // named: the payload, in this same run.
    if (fetched != TDeltaInstall::TFetched::Ready) return TWayOutcome::TryNext;
    bool assemblyFailed = false;
    const bool placed = BackUpAndPlace(entry.Path, [&](const std::string& destination) {
        // Assembled beside the old file, which lends its chunks and stays whole until the new one,
        // its digest checked, takes its place.
        StartFileGauge(gauge);
        struct TGaugeBackToZero {
            GFilesThread& worker;
            ~TGaugeBackToZero() {
                try {
                    worker.MoveFileGauge(0, true);
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
    if (placed) return TWayOutcome::Placed;
    if (!assemblyFailed) return TWayOutcome::FailedGoOn;
    // Chunks that each came as named but do not make the listed file: the index is not to be trusted,
    // and the payload is fetched instead; the window is back at the entry's start.
    Show(status::kDownloading + entry.Path);
    StartFileGauge(gauge);
    return TWayOutcome::TryNext;
}
