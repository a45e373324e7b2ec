// The vandrel-publish command line: parses the arguments, runs a publish or a verify, reports.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace publish {

// Runs the tool with its arguments (without the program name). out gets the summary and the problems
// found, err the errors and, when showProgress is set, the progress display. Returns the exit code:
// 0 done, 1 failed (or problems found by --verify), 2 wrong usage.
int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool showProgress);

extern const char* const kUsage;

} // namespace publish
