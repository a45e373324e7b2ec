#include "tools/publish/Terminal.h"

#include <unistd.h> // isatty, in the C runtime of both systems

namespace publish {

bool IsTerminal(int fd) { return isatty(fd) != 0; }

} // namespace publish
