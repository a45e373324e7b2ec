#pragma once

#include <string>

// Writes Update.bat into the current folder: end the launcher, wait, swap NAME.New in (only when it
// exists), start the launcher, delete the batch file.
void WriteUpdateBatch(const std::string& name);
