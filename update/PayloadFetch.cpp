#include "update/PayloadFetch.h"

#include "platform/Errors.h"
#include "support/LauncherNames.h"
#include "support/Sources.h"

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
