#include "update/PatchInstall.h"

#include "platform/Errors.h"
#include "support/LauncherNames.h"
#include "support/Patch.h"
#include "support/Sources.h"
#include "support/md5.h"
#include "update/GetFilesThr.h"

bool TPatchInstall::Fits(int64_t oldSize) { return oldSize > 0 && oldSize <= kMaxPatchFileBytes; }

const TPatchRef* TPatchInstall::Offered(const TFileObjects& objects, const std::string& localDigest,
                                        const std::string& localPath, int64_t payloadSize) {
    // A patch from the player's very version: the publisher writes one only where it costs less than
    // the chunks that version would need, and it is taken only where it costs less than the payload and
    // the old file fits in memory.
    if (localDigest.empty()) return nullptr;
    for (const TPatchRef& patch : objects.patches) {
        if (!SameDigest(patch.fromDigest, localDigest) || patch.object.size >= payloadSize) continue;
        platform::File old = platform::File::TryOpenRead(localPath);
        return old.IsOpen() && Fits(old.Size()) ? &patch : nullptr;
    }
    return nullptr;
}

TPatchInstall::TPatchInstall(const TPatchRef& patch, std::string localPath, std::string digest, TSources& sources,
                             const std::atomic<bool>& stop)
    : patch_(patch), localPath_(std::move(localPath)), digest_(std::move(digest)), sources_(sources), stop_(stop) {}

namespace {
// A patch held in memory, checked by its name, the gauge following its bytes.
class TPatchSink final : public TBodySink {
public:
    TPatchSink(const TObjectRef& object, std::string& body, const std::function<void(int64_t, int64_t)>& onProgress)
        : object_(object), body_(body), onProgress_(onProgress) {}
    int64_t Have() const override { return static_cast<int64_t>(body_.size()); }
    int64_t Size() const override { return object_.size; }
    void Restart() override { body_.clear(); }
    void Write(const char* data, size_t size) override {
        body_.append(data, size);
        onProgress_(Have(), Size());
    }
    bool Accept() override {
        if (ObjectIdOf(body_.data(), body_.size()) == object_.id) return true;
        body_.clear();
        return false;
    }

private:
    TObjectRef object_;
    std::string& body_;
    const std::function<void(int64_t, int64_t)>& onProgress_;
};
} // namespace

bool TPatchInstall::Fetch(const std::function<void(int64_t, int64_t)>& onProgress) {
    // A patch is never larger than the new file may be: a list that says so is not believed.
    if (patch_.object.size <= 0 || patch_.object.size > kMaxPatchFileBytes) return false;
    TPatchSink sink(patch_.object, body_, onProgress);
    return sources_.Fetch(names::ObjectUrlPath(TObjectKind::Patch, patch_.object.id), sink, stop_) == TFetchOutcome::Complete;
}

void TPatchInstall::Apply(platform::File& output, const std::function<void(int64_t, int64_t)>& onProgress) {
    // The old file in the address space as one view: at most kMaxPatchFileBytes.
    platform::MappedFile old;
    if (!old.Open(localPath_) || !Fits(static_cast<int64_t>(old.Size()))) throw EPatchError("the old file cannot be read");
    const unsigned char* bytes = old.View(0, static_cast<size_t>(old.Size()));
    if (!bytes) throw EPatchError("the old file cannot be mapped");
    TFileStream target(output);
    TMD5Context digest;
    ApplyPatch(body_, bytes, static_cast<size_t>(old.Size()), target, digest, onProgress);
    TMD5Digest result;
    digest.Final(result);
    if (!SameDigest(DigestToHex(result), digest_)) throw EPatchError("its result does not match its digest");
}

// ---- the install pass's patch way -----------------------------------------------------------------

GFilesThread::TWayOutcome GFilesThread::PlaceFromPatch(const TFileEntry& entry, const TEntryPlan& plan) {
    TPatchInstall patch(*plan.patch, InstallDir + entry.Path, entry.Digest, *sources_, control_->Terminated);
    const auto show = [&](int64_t done, int64_t total) { MoveFileGaugeShare(done, total, entry.Size()); };
    MoveFileGauge(0);
    const bool fetched = patch.Fetch(show);
    MoveFileGauge(0, true);
    if (!fetched) return TWayOutcome::TryNext; // no source had it as the list names it
    // Written beside the old file, which the patch reads from until the new one, its digest checked,
    // takes its place; a patch that does not make the listed file from this old one gives way.
    return WriteInPlace(entry, [&](platform::File& output) { patch.Apply(output, show); });
}
