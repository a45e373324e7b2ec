// The hosts step: host mappings from the update list, added to the Windows hosts file in a marked block.

#include "platform/Platform.h"
#include "platform/Errors.h"
#include "support/LauncherNames.h"
#include "update/GetFilesThr.h"
#include "update/HostsEdit.h"

#include <optional>

namespace {

std::string ReadWholeFile(const std::string& path) {
    platform::File file = platform::File::TryOpenRead(path);
    if (!file.IsOpen()) throw EInOutError(IoError::FileNotFound);
    std::string text;
    char buffer[65536];
    for (size_t got; (got = file.Read(buffer, sizeof buffer)) > 0;) text.append(buffer, got);
    return text;
}

} // namespace

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
