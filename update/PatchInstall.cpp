#include "update/PatchInstall.h"
#include "support/LauncherNames.h"

#include "platform/Errors.h"
#include "support/Patch.h"
#include "support/Sources.h"
#include "support/md5.h"

bool TPatchInstall::Fits(int64_t oldSize) { return oldSize > 0 && oldSize <= kMaxPatchFileBytes; }

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
