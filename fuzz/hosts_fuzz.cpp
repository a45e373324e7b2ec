// The hosts merge on arbitrary hosts-file and entry bytes: an error of the launcher's own or an edit
// that keeps every old line (as it was or commented out), never a crash or a hang.
#include "platform/Errors.h"
#include "update/HostsEdit.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Layout: the hosts file, a zero byte, then the entries one per line.
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t split = input.find('\0');
    std::string hostsText = input.substr(0, split);
    TStringList entries;
    if (split != std::string::npos) {
        std::string rest = input.substr(split + 1);
        size_t start = 0;
        while (start <= rest.size() && entries.size() < 16) {
            size_t end = rest.find('\n', start);
            entries.push_back(Trim(rest.substr(start, end == std::string::npos ? std::string::npos : end - start)));
            if (end == std::string::npos) break;
            start = end + 1;
        }
    }
    const TStringList lines = HostsLines(hostsText);
    try {
        const THostsEdit edit = MergeHosts(lines, entries);
        if (edit.Lines.size() != lines.size() || edit.Block.size() < 2) __builtin_trap();
        for (size_t i = 0; i < lines.size(); ++i)
            if (edit.Lines[i] != lines[i] && edit.Lines[i] != "#" + lines[i]) __builtin_trap();
    } catch (const Exception&) {
    }
    return 0;
}
