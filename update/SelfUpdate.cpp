// Replacing the launcher's own executable: the new one is fetched beside it as NAME.New, and a batch
// file ends the launcher, swaps the files and starts the new one.
#include "platform/Platform.h"
#include "platform/Errors.h"
#include "support/LauncherNames.h"
#include "support/LstFile.h"
#include "support/SafeNames.h"
#include "support/md5.h"
#include "update/GetFilesThr.h"
#include "update/SelfUpdate.h"

void WriteUpdateBatch(const TInstallFolder& installFolder, const std::string& name) {
    std::string folder = installFolder.Path();
    folder.pop_back();
    if (!folder.empty() && folder.back() == '\\') folder.pop_back(); // a drive root
    const std::string newExe = name + names::kSelfUpdateSuffix;
    std::string text = "@echo off\r\n"
                       "taskkill /IM " + name + " /F\r\n"
                       "ping 127.0.0.1 -n 3 > nul\r\n";
    if (platform::IsFile(folder + "\\" + newExe)) {
        text += "del \"" + folder + "\\" + names::kList + "\"\r\n";
        text += "del \"" + folder + "\\" + name + "\"\r\n";
        text += "rename " + newExe + " " + name + "\r\n";
    }
    text += "start " + name + "\r\n";
    text += "del \"" + std::string(names::kUpdateBatch) + "\"\r\n";
    platform::File file;
    try {
        file = platform::File::Create(folder + "\\" + names::kUpdateBatch);
        file.Write(text.data(), text.size());
        file.Close();
    } catch (const Exception&) {
        throw EInOutError(IoError::AccessDenied);
    }
}

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
