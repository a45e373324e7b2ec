// What the two backends share: the throwing forms of opening files, and the one way the launcher and
// the publisher replace a file (write beside it, then rename over it).
#include "platform/Detail.h"
#include "platform/Errors.h"
#include "platform/Platform.h"

namespace platform {

File File::OpenRead(const std::string& path) {
    File file = TryOpenRead(path);
    if (!file.IsOpen()) throw EFOpenError(path);
    return file;
}

File File::Create(const std::string& path) {
    File file = TryCreate(path);
    if (!file.IsOpen()) throw EFCreateError(path);
    return file;
}

Replacement::Replacement(std::string target, const std::string& temporarySuffix)
    : target_(std::move(target)), temporary_(target_ + temporarySuffix), output_(File::Create(temporary_)) {}

Replacement::Replacement(Replacement&& other) noexcept
    : target_(std::move(other.target_)), temporary_(std::move(other.temporary_)),
      output_(std::move(other.output_)), committed_(other.committed_) {
    other.committed_ = true; // the moved-from object has nothing left to remove
}

Replacement::~Replacement() {
    if (committed_) return;
    output_ = File();
    RemoveFile(temporary_);
}

void Replacement::Finish(bool toDisk) {
    if (!output_.IsOpen()) return;
    if (toDisk) output_.FlushToDisk();
    output_.Close();
}

bool Replacement::Commit(Mode mode, bool toDisk) {
    Finish(toDisk);
    const bool renamed = mode == Mode::KeepAttributes ? detail::RenameKeepingAttributes(temporary_, target_)
                                                      : MoveFileReplacing(temporary_, target_);
    if (!renamed) RemoveFile(temporary_);
    committed_ = true;
    return renamed;
}

} // namespace platform
