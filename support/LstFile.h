// Reader of the update list files.lst: sections between [name] and [/name], "|"-separated fields.
// Nothing is cached: every read scans the file again from its first line.
#pragma once

#include "platform/Platform.h"
#include "support/Errors.h"
#include "support/Misc.h"

#include <string>

class TListFile {
public:
    explicit TListFile(std::string path);
    ~TListFile();
    TListFile(const TListFile&) = delete;
    TListFile& operator=(const TListFile&) = delete;

    // Reads raise EInOutError when the file cannot be read and EListLineTooLong for an overlong line.
    // The trimmed, non-empty content lines of the first section of that name, or the single line
    // "FAIL" when the section is missing or empty.
    TStringList GetSection(const std::string& section);
    // The last field of the first key line of the section whose first field equals key, or "".
    std::string GetValue(const std::string& section, const std::string& key);

private:
    class LineReader;
    void Reopen();
    // Calls onLine for every trimmed line of the first section of that name until it returns false.
    template <typename OnLine> void ScanSection(const std::string& section, OnLine onLine);

    std::string path_;
    platform::File file_;
};

// The longest line a list may hold. A longer one makes the list corrupt (a few hundred compressed
// bytes can unpack to a gigabyte-long line), and reading it stops there, so memory stays bounded.
constexpr size_t kMaxListLine = 1024 * 1024;

// The list has a line longer than kMaxListLine.
class EListLineTooLong : public Exception {
public:
    EListLineTooLong() : Exception("The update list is corrupt: a line is longer than 1 MiB") {}
};

// The marker that GetSection returns for a missing or empty section.
extern const char* const kListFail;
