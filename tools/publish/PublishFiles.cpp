#include "tools/publish/PublishFiles.h"

#include "platform/Platform.h"
#include "support/Misc.h"
#include "tools/publish/PublishNames.h"

#include <algorithm>

namespace fs = std::filesystem;

namespace publish {

fs::path FsPath(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return fs::path(path);
}

void MakeFoldersFor(const std::string& file) {
    const std::string folder = ExtractFilePath(file);
    if (!folder.empty() && !platform::MakeFolders(folder.substr(0, folder.size() - 1)))
        throw EPublishError("cannot create the folder " + folder);
}

std::vector<fs::path> Listing(const fs::path& folder) {
    std::vector<fs::path> names;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        names.push_back(it->path());
    return names;
}

void RemoveIfEmpty(const fs::path& folder) {
    std::error_code error;
    if (fs::is_empty(folder, error) && !error) fs::remove(folder, error);
}

void RemoveEmptyFolders(const std::string& outDir, std::string relative) {
    for (size_t slash; (slash = relative.rfind('\\')) != std::string::npos;) {
        relative.resize(slash);
        const fs::path folder = FsPath(outDir + "\\" + relative);
        std::error_code error;
        if (!fs::is_empty(folder, error) || error || !fs::remove(folder, error)) break;
    }
}

std::string ReadFileBytes(const std::string& path, uint64_t most) {
    try {
        platform::File file = platform::File::OpenRead(path);
        const int64_t size = file.Size();
        if (static_cast<uint64_t>(size) > most)
            throw EPublishError(path + " is larger than " + std::to_string(most) + " bytes");
        std::string bytes(static_cast<size_t>(size), '\0');
        size_t got = 0;
        for (size_t n; got < bytes.size() && (n = file.Read(&bytes[got], bytes.size() - got)) > 0;) got += n;
        if (got != bytes.size()) throw EPublishError(path + " changed while it was read");
        return bytes;
    } catch (const EPublishError&) {
        throw;
    } catch (const Exception& error) {
        throw EPublishError("cannot read " + path + ": " + error.what());
    }
}

} // namespace publish
