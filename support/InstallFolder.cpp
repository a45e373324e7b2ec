#include "support/InstallFolder.h"

#include "platform/Platform.h"
#include "support/IniFile.h"
#include "support/LauncherNames.h"

TInstallFolder::TInstallFolder(const std::string& folder) : path_(folder + "\\") {}

TInstallFolder TInstallFolder::Current() { return TInstallFolder(platform::CurrentFolder()); }

void TInstallFolder::StoreRevision(const std::string& revision) const {
    TIniFile(*this / names::kSettingsFile).WriteString(names::kSettingsSection, names::kRevisionKey, revision);
}

int32_t TInstallFolder::StoredRevision() const {
    return TIniFile(*this / names::kSettingsFile).ReadInteger(names::kSettingsSection, names::kRevisionKey, 0);
}

TOwnFolder::TOwnFolder(const TInstallFolder& folder, std::string ownRelative)
    : anchor(folder.Path().substr(0, folder.Path().size() - 1)), relative(std::move(ownRelative)) {}

bool TOwnFolder::Make() const {
    const size_t cut = relative.find('\\');
    const std::string first = cut == std::string::npos ? relative : relative.substr(0, cut);
    return platform::MakeOwnFolders(anchor + "\\" + first, cut == std::string::npos ? std::string() : relative.substr(cut + 1));
}
