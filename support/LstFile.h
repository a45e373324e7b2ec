// Reader of the update list files.lst: sections between [name] and [/name], "|"-separated fields.
// Nothing is cached: every read scans the file again from its first line.
#pragma once

#include "platform/Platform.h"
#include "platform/Errors.h"
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

// The most an unpacked list may hold: about 600,000 entries. A larger one is corrupt as an overlong line
// is, and its unpacking stops there, so a small files.lst.bz2 cannot fill the disk.
constexpr int64_t kMaxListBytes = 64 << 20;

// The list has a line longer than kMaxListLine.
class EListLineTooLong : public Exception {
public:
    EListLineTooLong() : Exception("The update list is corrupt: a line is longer than 1 MiB") {}
};

// A file entry of the sections files_critical, files_normal and self: path|digest|size, read from the
// end of the line (fields before these three are ignored). Every reader of entries parses them here.
struct TFileEntry {
    std::string Path;     // relative to the install folder, "\" between folder names
    std::string Digest;   // MD5 of the file's contents, 32 hexadecimal digits
    std::string SizeText; // the compressed payload's size in bytes, as the line writes it

    // EStringListError when the line has fewer than three fields. The size is not looked at yet:
    // callers convert it only where a bad size is to raise.
    static TFileEntry Parse(const std::string& line);
    // The size as a number up to 2^63 - 1; EConvertError when it is not a decimal integer.
    int64_t Size() const { return StrToInt64(SizeText); }
};

// The marker that GetSection returns for a missing or empty section.
extern const char* const kListFail;
