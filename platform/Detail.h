// What the two backends give the portable part of the platform layer, and nothing else.
#pragma once

#include <string>

namespace platform::detail {

// Renames replacement over target, carrying target's attributes and permissions over (ReplaceFileA on
// Windows). False when the system refuses; target is then unchanged.
bool RenameKeepingAttributes(const std::string& replacement, const std::string& target);

} // namespace platform::detail
