// Host mappings from the update list, added to the Windows hosts file in a marked block.
#include "platform/Platform.h"
#include "support/Errors.h"
#include "update/GetFilesThr.h"

namespace {

const char* const kBlockStart = "#-------- Added by DoVevevaz --------";
const char* const kBlockEnd = "#-----------------";

// Every line of the file, trimmed. Lines end at LF; a CR before the LF belongs to the line end.
TStringList ReadTrimmedLines(const std::string& path) {
    platform::File file;
    try {
        file = platform::File::OpenRead(path);
    } catch (const Exception&) {
        throw EInOutError(IoError::FileNotFound);
    }
    std::string text;
    char buffer[65536];
    for (;;) {
        size_t got = file.Read(buffer, sizeof buffer);
        if (got == 0) break;
        text.append(buffer, got);
    }
    TStringList lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(Trim(text.substr(start, end - start)));
        start = end + 1;
    }
    return lines;
}

} // namespace

void GFilesThread::ModifyHosts(const TStringList& entries) {
    const std::string windows = platform::WindowsFolder();
    if (windows.empty()) return;
    const std::string folder = windows + "\\system32\\drivers\\etc\\";
    const std::string target = platform::IsFile(folder + "hosts.msn") ? folder + "hosts.msn" : folder + "hosts";

    TStringList lines = ReadTrimmedLines(target);
    TStringList block{kBlockStart};
    for (const std::string& entry : entries) {
        const TStringList fields = SplitReversed(entry, "|");
        const std::string& host = ItemAt(fields, 0);
        const std::string& address = ItemAt(fields, 1);
        enum { Absent, Present, Replaced } outcome = Absent;
        for (std::string& line : lines) {
            if (FindFrom(1, line, host) == 0 || line.front() == '#') continue;
            if (FindFrom(1, line, address + "\t") != 0 || FindFrom(1, line, address + " ") != 0) {
                outcome = Present;
            } else {
                line = "#" + line;
                outcome = Replaced;
            }
        }
        if (outcome != Present) block.push_back(address + "\t" + host);
    }
    block.push_back(kBlockEnd);
    if (block.size() <= 2) return; // nothing to add: the file keeps its bytes

    // The new file is written beside the old one and renamed over it, so a full disk or a crash never
    // leaves a half-written hosts file.
    if (!platform::CanWrite(target)) throw EInOutError(IoError::AccessDenied);
    const std::string temporary = target + ".vandrel-new";
    platform::File file;
    try {
        file = platform::File::Create(temporary);
    } catch (const Exception&) {
        throw EInOutError(IoError::AccessDenied);
    }
    Show(status::kHostsApplying);
    try {
        std::string text;
        for (const TStringList* part : {&lines, &block})
            for (const std::string& line : *part) text += line + "\r\n";
        file.Write(text.data(), text.size());
        file.Close();
        if (!platform::MoveFileReplacing(temporary, target)) throw EInOutError(IoError::AccessDenied);
    } catch (...) {
        file = platform::File();
        platform::RemoveFile(temporary);
        throw;
    }
    Show(status::kHostsChanged);
}
