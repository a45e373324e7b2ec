// The batch file that replaces the launcher's own exe once the launcher has ended.
#include "update/UpdateBatch.h"

#include "platform/Errors.h"
#include "platform/Platform.h"
#include "support/LauncherNames.h"

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
    platform::File file = platform::File::TryCreate(folder + "\\" + names::kUpdateBatch);
    if (!file.IsOpen()) throw EInOutError(IoError::AccessDenied);
    file.Write(text.data(), text.size());
    file.Close();
}
