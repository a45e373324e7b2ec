// Which client paths the launcher can install safely, and how they are written into files.lst.
// The launcher joins every listed path onto its install folder and onto the update URL as it stands,
// so anything that could leave the install folder, that Windows refuses in a name, or that the
// launcher's own batch file would misread is refused here, before anything is published.
#pragma once

#include "platform/Errors.h"

#include <string>
#include <vector>

namespace publish {

// A problem with the client folder or the options that stops the publishing; the message says what
// and why, for the operator.
class EPublishError : public Exception {
public:
    using Exception::Exception;
};

// Turns a client path (relative, UTF-8, "/" or "\" between folder names) into the bytes that the list
// holds: "\" between folder names, ASCII as it stands, or with allowCp1251 the Windows-1251 bytes of
// its characters. Throws EPublishError naming the path and the reason when the launcher would refuse
// it (the launcher's own rule, support/SafeNames.h).
std::string ListPath(const std::string& utf8Path, bool allowCp1251);

// Checks the launcher's own exe name with the launcher's own rule (support/SafeNames.h): a plain ASCII
// file name that its replacement batch file can use unquoted. Throws EPublishError.
void CheckSelfName(const std::string& name);

// UTF-8 to Windows-1251; false when the text is not valid UTF-8 or has a character 1251 lacks.
bool Utf8ToCp1251(const std::string& utf8, std::string& cp1251);

// Shell-style patterns on list paths, ignoring letter case as Windows does. "*" matches within one
// folder name, "**" across folders, "?" one character. A pattern without "\" or "/" is matched
// against the file name alone (so "*.log" matches logs in every folder); a pattern ending with "\"
// or "/" matches everything inside that folder.
class PathPatterns {
public:
    PathPatterns() = default;
    explicit PathPatterns(const std::vector<std::string>& patterns);
    bool Matches(const std::string& listPath) const;
    bool Empty() const { return patterns_.empty(); }

private:
    struct Pattern {
        std::string text;
        bool nameOnly;
    };
    std::vector<Pattern> patterns_;
};

// The pattern matcher itself, exposed for the tests: "*" stops at "\", "**" does not.
bool GlobMatch(const std::string& pattern, const std::string& text);

} // namespace publish
