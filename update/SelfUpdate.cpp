// Replacing the launcher's own executable: the new one is fetched beside it as NAME.New, and a batch
// file ends the launcher, swaps the files and starts the new one.
#include "platform/Platform.h"
#include "platform/Errors.h"
#include "support/LauncherNames.h"
#include "support/LstFile.h"
#include "support/SafeNames.h"
#include "support/md5.h"
#include "update/GetFilesThr.h"
#include "update/UpdateBatch.h"

void GFilesThread::SelfUpdate(const std::string& entry) {
    if (entry.empty()) return;
    const TFileEntry self = TFileEntry::Parse(entry);
    const std::string& name = self.Path;
    selfName_ = name;
    // The name goes into the batch file unquoted and becomes a path: anything but a plain file name is
    // refused before anything is read, fetched or written.
    if (!IsPlainFileName(name)) {
        Show(status::kSelfFailed);
        return;
    }
    const std::string local = InstallDir + name;
    TMD5Digest digest;
    DigestFile(local, digest);
    if (DigestToHex(digest) == self.Digest) return;
    // A size that is no number ends the run before anything is fetched.
    TPayloadSource payload{names::PayloadUrl(BaseURL, name), std::nullopt, self.Size()};
    if (const TFileObjects* objects = additions_.ObjectsOf(self.Digest)) payload.object = objects->payload;
    // A name too long for the install folder, or not the payload listed, shows; a server out of reach
    // or a body cut short ends the step without a status, as it always has.
    if (const auto failed = FailureOf(FetchPayloadShown(payload, PayloadBeside(local), false))) {
        if (*failed == TWayOutcome::FailedGoOn) Show(status::kSelfFailed);
        return;
    }
    try {
        UnpackInPlace(local + names::kPayloadSuffix, local + names::kSelfUpdateSuffix, self.Digest);
        WriteUpdateBatch(folder_, name);
        RunProgram(folder_ / names::kUpdateBatch);
    } catch (...) {
        Show(status::kSelfFailed);
    }
}
