// The hosts step's edit of the hosts file's text, apart from reading and writing the file.
#include "update/HostsEdit.h"

namespace {
const char* const kBlockStart = "#-------- Added by DoVevevaz --------";
const char* const kBlockEnd = "#-----------------";
} // namespace

TStringList HostsLines(const std::string& text) {
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

THostsEdit MergeHosts(TStringList lines, const TStringList& entries) {
    THostsEdit edit;
    edit.Block.push_back(kBlockStart);
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
        if (outcome != Present) edit.Block.push_back(address + "\t" + host);
    }
    edit.Block.push_back(kBlockEnd);
    edit.Lines = std::move(lines);
    return edit;
}

std::string THostsEdit::Text() const {
    std::string text;
    for (const TStringList* part : {&Lines, &Block})
        for (const std::string& line : *part) text += line + "\r\n";
    return text;
}
