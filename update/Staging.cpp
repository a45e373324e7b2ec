// The staging folder ~vandrel-ahead: what the install pass fetches and unpacks ahead of the entry
// shown, and, in resume\, one folder per file version with what a run that was cut short fetched of it
// (a payload's part, a chunk index, chunks), for the next run to go on from. It is bounded, never
// entered through a link, and gone once it holds nothing a later run can use.
#include "platform/Platform.h"
#include "platform/Errors.h"
#include "support/LauncherNames.h"
#include "support/LstFile.h"
#include "support/SafeNames.h"
#include "support/md5.h"
#include "update/GetFilesThr.h"

#include <algorithm>
#include <set>
#include <utility>
#include <vector>

namespace {
// The bytes of the files in a folder of the launcher's own (links count as nothing).
int64_t FolderBytes(const std::string& folder) {
    int64_t total = 0;
    for (const std::string& name : platform::ListFolder(folder)) {
        platform::File file = platform::File::TryOpenRead(folder + "\\" + name);
        if (file.IsOpen() && !platform::IsLink(folder + "\\" + name)) total += file.Size();
    }
    return total;
}

// Whether an entry's resume folder holds anything a later run can go on from: a part with the validator
// that names its body, the chunk index, or chunks. A part without its validator cannot go on.
bool WorthKeeping(const std::string& folder) {
    for (const std::string& name : platform::ListFolder(folder)) {
        if (name == names::kResumePayload) {
            if (platform::IsFile(folder + "\\" + name + names::kResumeTagSuffix)) return true;
        } else if (name != std::string(names::kResumePayload) + names::kResumeTagSuffix) {
            return true;
        }
    }
    return false;
}
} // namespace

bool GFilesThread::PrepareStaging() {
    const std::string staging = folder_ / names::kStagingFolder;
    // A link planted on the staging folder goes as a link where the system can remove it; what a killed
    // run left ahead goes too, while what it left to resume stays for the entries that still need it.
    if (platform::IsLink(staging) || platform::IsFile(staging)) platform::DeleteFolderTree(staging);
    platform::DeleteFolderTree(folder_ / names::AheadFolder());
    const std::string resume = folder_ / names::ResumeFolder();
    if (!platform::MakeOwnFolders(staging, names::kResumeSubfolder)) return false; // a link nobody can remove: nothing is staged
    std::set<std::string> kept;
    int64_t queuedPayloads = 0;
    for (const std::string& line : InstallQueue) {
        try {
            const TFileEntry entry = TFileEntry::Parse(line);
            if (!IsInstallablePath(entry.Path)) continue;
            const TOwnFolder folder = ResumeFolderOf(entry);
            kept.insert(folder.relative.substr(folder.relative.rfind('\\') + 1));
            queuedPayloads += std::max<int64_t>(0, entry.Size());
        } catch (const Exception&) {
            // left to fail at its turn
        }
    }
    // What a cut run left is bounded: a part never holds more than its payload, and the chunks fetched
    // for a file about as much. Beyond twice the queue's payloads (and a little for the indexes) it is
    // not what the launcher left, and the largest folders go until it fits.
    const int64_t cap = 2 * queuedPayloads + (int64_t(64) << 20);
    std::vector<std::pair<int64_t, std::string>> folders;
    int64_t staged = 0;
    for (const std::string& name : platform::ListFolder(resume)) {
        const std::string folder = resume + "\\" + name;
        if (!kept.count(name) || platform::IsLink(folder)) {
            platform::DeleteFolderTree(folder);
            continue;
        }
        folders.emplace_back(FolderBytes(folder), folder);
        staged += folders.back().first;
    }
    std::sort(folders.rbegin(), folders.rend());
    for (const auto& [bytes, folder] : folders) {
        if (staged <= cap) break;
        platform::DeleteFolderTree(folder);
        staged -= bytes;
    }
    return true;
}

TOwnFolder GFilesThread::ResumeFolderOf(const TFileEntry& entry) const {
    return TOwnFolder(folder_, names::ResumeFolderOf(entry.Path, entry.Digest));
}

void GFilesThread::FinishStaging() {
    const std::string staging = folder_ / names::kStagingFolder;
    if (!platform::IsFolder(staging) || platform::IsLink(staging)) return;
    // Only what a later run can go on from stays; the staging folder goes once it holds nothing.
    const std::string resume = folder_ / names::ResumeFolder();
    for (const std::string& name : platform::ListFolder(resume)) {
        const std::string folder = resume + "\\" + name;
        if (platform::IsLink(folder) || !WorthKeeping(folder)) platform::DeleteFolderTree(folder);
    }
    if (platform::ListFolder(resume).empty()) platform::DeleteFolderTree(staging);
}

