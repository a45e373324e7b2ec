#include "tools/publish/PublishScan.h"

#include "platform/Platform.h"
#include "support/LauncherNames.h"
#include "support/SafeNames.h"
#include "support/md5.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <set>

namespace fs = std::filesystem;

namespace publish {

namespace {

// True when inner is outer itself or lies somewhere below it.
bool IsInside(const fs::path& inner, const fs::path& outer) {
    auto i = inner.begin(), o = outer.begin();
    for (; o != outer.end(); ++o, ++i) {
        if (o->empty()) continue; // the empty name after a trailing separator
        if (i == inner.end() || *i != *o) return false;
    }
    return true;
}

fs::path Canonical(const std::string& folder) {
    std::error_code error;
    fs::path path = fs::weakly_canonical(fs::absolute(fs::path(folder), error), error);
    if (error) throw EPublishError("cannot resolve the folder " + folder + ": " + error.message());
    return path;
}

void CheckFolders(const PublishOptions& options) {
    std::error_code error;
    if (!fs::is_directory(options.clientDir, error))
        throw EPublishError("the client folder " + options.clientDir + " does not exist or is not a folder");
    fs::path client = Canonical(options.clientDir), out = Canonical(options.outDir);
    if (IsInside(out, client))
        throw EPublishError("the output folder " + options.outDir + " lies inside the client folder " +
                            options.clientDir + "; the update set would publish itself");
    if (IsInside(client, out))
        throw EPublishError("the client folder " + options.clientDir + " lies inside the output folder " +
                            options.outDir + "; keep them apart");
}

} // namespace

ClientScan ScanClient(const PublishOptions& options) {
    CheckFolders(options);
    if (!options.selfName.empty()) CheckSelfName(options.selfName);
    PathPatterns critical(options.critical), exclude(options.exclude);
    ClientScan scan;
    std::map<std::string, std::string> seen; // list path as Windows compares it -> the client's name
    std::set<std::string> folders;           // folders of the listed files, as Windows compares them
    const fs::path root(options.clientDir);
    std::error_code error;
    fs::recursive_directory_iterator walk(root, fs::directory_options::follow_directory_symlink, error), end;
    if (error) throw EPublishError("cannot read the client folder " + options.clientDir + ": " + error.message());
    for (; walk != end; walk.increment(error)) {
        if (error) throw EPublishError("cannot read the client folder " + options.clientDir + ": " + error.message());
        const fs::directory_entry& entry = *walk;
        std::string relative = entry.path().lexically_relative(root).generic_u8string();
        std::string raw = relative;
        std::replace(raw.begin(), raw.end(), '/', '\\');
        std::error_code typeError;
        bool folder = entry.is_directory(typeError);
        // The launcher's own files in a client folder (a copy that a launcher has run in) are never
        // published; the launcher would refuse to install them anyway.
        if (names::IsLauncherOwnedPath(raw, options.selfName) || exclude.Matches(raw)) {
            if (folder) walk.disable_recursion_pending();
            continue;
        }
        if (folder) {
            // A link to a folder that holds the link itself would be followed round and round.
            if (entry.is_symlink(typeError)) {
                std::error_code resolveError;
                fs::path target = fs::canonical(entry.path(), resolveError);
                fs::path parent = fs::canonical(entry.path().parent_path(), resolveError);
                if (!resolveError && IsInside(parent, target))
                    throw EPublishError("refusing \"" + relative + "\": a folder link that leads back to a folder "
                                        "holding it, so it loops (" + target.string() + ")");
            }
            continue;
        }
        fs::file_status status = entry.status(typeError);
        if (fs::exists(status) && !fs::is_regular_file(status))
            throw EPublishError("refusing \"" + relative + "\": not a regular file");
        ClientFile file;
        file.sourcePath = entry.path().string();
        file.listPath = ListPath(relative, options.allowCp1251);
        file.critical = critical.Matches(raw);
        if (!options.selfName.empty() && relative == options.selfName) {
            scan.self = file;
            continue;
        }
        std::string lower = FoldCase(file.listPath);
        auto [clash, fresh] = seen.emplace(lower, relative);
        if (!fresh)
            throw EPublishError("refusing \"" + relative + "\": it differs from \"" + clash->second +
                                "\" only in letter case, and Windows would take both for one file");
        for (size_t slash = lower.find('\\'); slash != std::string::npos; slash = lower.find('\\', slash + 1))
            folders.insert(lower.substr(0, slash));
        scan.files.push_back(std::move(file));
    }
    for (const ClientFile& file : scan.files) {
        std::string lower = FoldCase(file.listPath);
        if (folders.count(lower))
            throw EPublishError("refusing \"" + file.listPath + "\": a folder of the same name (ignoring letter case) "
                                "holds other files");
        // The launcher downloads a payload to the file's path + ".bz2", unpacks it to the path +
        // ".~up", and deletes both beside every listed file.
        for (const std::string suffix : {names::kPayloadSuffix, names::kUnpackSuffix}) {
            const size_t n = suffix.size();
            if (lower.size() > n && lower.compare(lower.size() - n, n, suffix) == 0 &&
                seen.count(lower.substr(0, lower.size() - n)))
                throw EPublishError("refusing \"" + file.listPath + "\": the launcher downloads or unpacks \"" +
                                    seen[lower.substr(0, lower.size() - n)] + "\" under this very name and deletes it");
        }
    }
    if (!options.selfName.empty() && !scan.self)
        throw EPublishError("the launcher's exe " + options.selfName + " is not in the client's root folder " +
                            options.clientDir);
    std::sort(scan.files.begin(), scan.files.end(),
              [](const ClientFile& a, const ClientFile& b) { return a.listPath < b.listPath; });
    return scan;
}

std::string DigestSource(const std::string& path, uint64_t* size) {
    TMD5Context context;
    uint64_t total = 0;
    try {
        platform::File file = platform::File::OpenRead(path);
        std::string buffer(1 << 20, '\0');
        for (size_t got; (got = file.Read(&buffer[0], buffer.size())) > 0; total += got) context.Update(buffer.data(), got);
    } catch (const Exception& error) {
        throw EPublishError("cannot read " + path + ": " + error.what());
    }
    TMD5Digest digest;
    context.Final(digest);
    if (size) *size = total;
    return DigestToHex(digest);
}

void DigestClient(ClientScan& scan, WorkerPool& pool, const std::function<void(const PublishProgress&)>& progress) {
    std::vector<ClientFile*> files;
    for (ClientFile& file : scan.files) files.push_back(&file);
    if (scan.self) files.push_back(&*scan.self);
    PublishProgress state{"reading", 0, files.size(), 0, 0};
    std::error_code error;
    for (ClientFile* file : files) {
        uintmax_t size = fs::file_size(fs::path(file->sourcePath), error);
        if (!error) state.bytesTotal += size;
    }
    std::vector<std::future<void>> done;
    for (ClientFile* file : files)
        done.push_back(pool.Submit([file] { file->digest = DigestSource(file->sourcePath, &file->size); }));
    std::exception_ptr failure;
    for (size_t i = 0; i < done.size(); ++i) {
        try {
            done[i].get();
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
        state.filesDone = i + 1;
        state.bytesDone += files[i]->size;
        if (progress) progress(state);
    }
    if (failure) std::rethrow_exception(failure);
}

} // namespace publish
