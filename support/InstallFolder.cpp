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
