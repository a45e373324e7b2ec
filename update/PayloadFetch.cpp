#include "update/PayloadFetch.h"

#include "platform/Errors.h"
#include "support/LauncherNames.h"
#include "support/Misc.h"
#include "support/Sources.h"
#include "update/GetFilesThr.h"
#include "update/InstallAhead.h"

#include <exception>

namespace {
// Raised inside a classic download when it is to be broken off.
struct TBrokenOff {};

TDownloadResult FetchObject(const TObjectRef& object, TSources& sources, const platform::OwnName& target,
                            bool resumable, const std::function<void(int64_t)>& onHave, const std::atomic<bool>& stop) {
    std::optional<TObjectFileSink> sink;
    try {
        sink.emplace(object, target, onHave);
        if (!resumable) sink->Restart(); // nothing of an earlier attempt is taken up
    } catch (const Exception&) {
        return TDownloadResult::CannotCreate;
    }
    TFetchOutcome outcome;
    try {
        outcome = sources.Fetch(names::ObjectUrlPath(TObjectKind::Payload, object.id), *sink, stop);
    } catch (...) {
        sink->Drop(); // a full disk keeps nothing
        throw;
    }
    switch (outcome) {
    case TFetchOutcome::Complete: return TDownloadResult::Complete;
    case TFetchOutcome::Unreachable:
    case TFetchOutcome::Failed:
    case TFetchOutcome::Stopped:
        if (resumable && sink->Have() > 0) {
            sink->Finish(); // a part of this object, for a later attempt
        } else {
            sink->Drop();
        }
        return outcome == TFetchOutcome::Unreachable ? TDownloadResult::CannotOpen
               : outcome == TFetchOutcome::Failed    ? TDownloadResult::Damaged
                                                     : TDownloadResult::Cut;
    }
    return TDownloadResult::Cut;
}
} // namespace

platform::OwnName PayloadBeside(const std::string& localFile) {
    const size_t cut = localFile.rfind('\\');
    return {localFile.substr(0, cut), localFile.substr(cut + 1) + names::kPayloadSuffix};
}

TDownloadResult FetchPayload(const TPayloadSource& source, TSources* sources, const platform::OwnName& target,
                             bool resumable, const std::function<void(int64_t)>& onHave,
                             const std::atomic<bool>& stop) {
    if (source.object && sources) return FetchObject(*source.object, *sources, target, resumable, onHave, stop);
    int64_t have = 0;
    const auto onPiece = [&](size_t got) {
        if (got > 0 && stop) throw TBrokenOff(); // a body that has all arrived is not broken off at its end
        have += static_cast<int64_t>(got);
        if (onHave) onHave(have);
    };
    try {
        if (resumable) return DownloadResumable(source.url, target, onPiece, source.size);
        return DownloadToFile(source.url, target.Path(), onPiece, nullptr, source.size);
    } catch (const TBrokenOff&) {
        if (!resumable) platform::RemoveFile(target.Path());
        return TDownloadResult::Cut;
    } catch (...) {
        if (!resumable) platform::RemoveFile(target.Path()); // a full disk keeps nothing
        throw;
    }
}

// ---- the install pass's payload way, at an entry's turn or fetched ahead of it ---------------------

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

std::optional<GFilesThread::TWayOutcome> GFilesThread::FailureOf(TDownloadResult fetched) {
    // The address or the connection failed: the pass stops. The file or its bytes are wrong: the entry
    // alone fails.
    switch (fetched) {
    case TDownloadResult::Complete: return std::nullopt;
    case TDownloadResult::CannotCreate: // a path the system cannot create (too long)
    case TDownloadResult::TooLarge:     // longer than the list says
    case TDownloadResult::Damaged:      // no source had the bytes the list names
        return TWayOutcome::FailedGoOn;
    case TDownloadResult::CannotOpen:
    case TDownloadResult::Cut: return TWayOutcome::FailedStop;
    }
    return TWayOutcome::FailedStop;
}

TDownloadResult GFilesThread::FetchPayloadShown(const TPayloadSource& source, const platform::OwnName& target,
                                                bool resumable) {
    // The file in hand is fetched to its end, even when the run is told to stop meanwhile.
    const std::atomic<bool> never{false};
    MoveFileGauge(0);
    const TDownloadResult fetched =
        FetchPayload(source, sources_.get(), target, resumable, [&](int64_t have) { MoveFileGauge(have); }, never);
    MoveFileGauge(0, true);
    return fetched;
}

GFilesThread::TWayOutcome GFilesThread::PlacePayload(const TFileEntry& entry, const TEntryPlan& plan) {
    const std::string local = InstallDir + entry.Path;
    // Where the path can take its payload, a download cut short is kept to be taken up by the next run.
    const bool resumable = !plan.resume.Empty() && CanCreate(local + names::kPayloadSuffix) && plan.resume.Make();
    const platform::OwnName payload = resumable ? plan.resume / names::kResumePayload : PayloadBeside(local);
    if (const auto failed = FailureOf(FetchPayloadShown(plan.payload, payload, resumable))) return *failed;
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
    if (const auto failed = FailureOf(result.Fetched)) return *failed;
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

