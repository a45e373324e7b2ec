// Host mappings from the update list, added to the Windows hosts file in a marked block.
#include "update/Hosts.h"

#include "platform/Platform.h"
#include "platform/Errors.h"
#include "support/LauncherNames.h"
#include "update/GetFilesThr.h"

#include <optional>

namespace {

const char* const kBlockStart = "#-------- Added by DoVevevaz --------";
const char* const kBlockEnd = "#-----------------";

std::string ReadWholeFile(const std::string& path) {
    platform::File file;
    try {
        file = platform::File::OpenRead(path);
    } catch (const Exception&) {
        throw EInOutError(IoError::FileNotFound);
    }
    std::string text;
    char buffer[65536];
    for (size_t got; (got = file.Read(buffer, sizeof buffer)) > 0;) text.append(buffer, got);
    return text;
}

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

void GFilesThread::ModifyHosts(const TStringList& entries) {
    const std::string windows = platform::WindowsFolder();
    if (windows.empty()) return;
    const std::string folder = windows + "\\system32\\drivers\\etc\\";
    const std::string target = platform::IsFile(folder + "hosts.msn") ? folder + "hosts.msn" : folder + "hosts";

    const THostsEdit edit = MergeHosts(HostsLines(ReadWholeFile(target)), entries);
    if (!edit.Changed()) return; // nothing to add: the file keeps its bytes

    // Every refusal is found before anything is shown. The new file is written beside the old one and
    // put in its place, keeping its attributes, so a full disk or a crash never leaves it half written.
    // Where only the file itself may be written, not its folder, it is rewritten in place.
    if (!platform::CanWrite(target)) throw EInOutError(IoError::AccessDenied);
    std::optional<platform::Replacement> beside;
    platform::File inPlace;
    try {
        beside.emplace(target, names::kHostsTemporarySuffix);
    } catch (const EFCreateError&) {
        try {
            inPlace = platform::File::Rewrite(target);
        } catch (const EFCreateError&) {
            throw EInOutError(IoError::AccessDenied);
        }
    }
    Show(status::kHostsApplying);
    const std::string text = edit.Text();
    platform::File& file = beside ? beside->Output() : inPlace;
    file.Write(text.data(), text.size());
    // The hosts file cannot be fetched again as a game file can: its new version reaches the disk
    // before it takes the old one's place.
    if (!beside)
        file.Close();
    else if (!beside->Commit(platform::Replacement::Mode::KeepAttributes, true))
        throw EInOutError(IoError::AccessDenied);
    Show(status::kHostsChanged);
}
