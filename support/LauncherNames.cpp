#include "support/LauncherNames.h"

#include "support/SafeNames.h"

namespace names {

namespace {
// Whether path is folder or lies inside it, both already folded.
bool InFolder(const std::string& path, const std::string& folder) {
    return path == folder || (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
                              (path[folder.size()] == '\\' || path[folder.size()] == '/'));
}
} // namespace

bool IsLauncherOwnedPath(const std::string& listPath, const std::string& selfName) {
    const std::string path = FoldCase(listPath);
    for (const char* file : {kSettingsFile, kList, kListPayload, kListSignature, kUpdateBatch})
        if (path == FoldCase(file)) return true;
    for (const char* folder : {kBackupFolder, kStagingFolder})
        if (InFolder(path, FoldCase(folder))) return true;
    return !selfName.empty() && path == FoldCase(selfName + kSelfUpdateSuffix);
}

} // namespace names
