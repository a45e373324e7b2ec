// The batch file that replaces the launcher's own exe: the launcher cannot overwrite itself while it runs.
#pragma once

#include "support/InstallFolder.h"

#include <string>

// Writes Update.bat into the install folder: end the launcher, wait, swap NAME.New in (only when it
// exists), start the launcher, delete the batch file. The batch file runs in the install folder.
// EInOutError when it cannot be written.
void WriteUpdateBatch(const TInstallFolder& folder, const std::string& name);
