#pragma once

#include <string>

#include "support/InstallFolder.h"

// Writes Update.bat into the install folder: end the launcher, wait, swap NAME.New in (only when it
// exists), start the launcher, delete the batch file. The batch file runs in the install folder.
void WriteUpdateBatch(const TInstallFolder& folder, const std::string& name);
