// What tests and the demo may set on the POSIX backend.
#pragma once

#include <string>

namespace platform {

// Points the "Windows folder" (home of system32\drivers\etc\hosts) at a folder of the caller's choice.
// Without it, the environment variable VANDREL_WINDOWS_DIR is used, and without that there is none.
void SetWindowsFolderForTesting(const std::string& folder);

} // namespace platform
