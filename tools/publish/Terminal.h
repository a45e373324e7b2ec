// Whether a standard stream goes to a terminal (progress is shown only there).
#pragma once

namespace publish {

bool IsTerminal(int fd); // 1: standard output, 2: standard error

} // namespace publish
