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
    self.Size(); // a size that is no number ends the run before anything is fetched
    const TDownloadResult fetched = Fetch(PayloadUrl(BaseURL, name), local + names::kPayloadSuffix, true);
    if (fetched == TDownloadResult::CannotCreate) {
        Show(status::kSelfFailed); // a name too long for the install folder
        return;
    }
    if (fetched != TDownloadResult::Complete) return;
    try {
        UnpackInPlace(local + names::kPayloadSuffix, local + names::kSelfUpdateSuffix, self.Digest);
        WriteUpdateBatch(folder_, name);
        RunProgram(folder_ / names::kUpdateBatch);
    } catch (...) {
        Show(status::kSelfFailed);
    }
}
