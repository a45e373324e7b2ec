#include "tools/publish/PublishVerify.h"

#include "platform/Platform.h"
#include "support/BZip2.h"
#include "support/Download.h"
#include "support/InstallFolder.h"
#include "support/LauncherNames.h"
#include "support/ListAdditions.h"
#include "support/ListSignature.h"
#include "support/LstFile.h"
#include "support/Misc.h"
#include "support/SafeNames.h"
#include "support/md5.h"
#include "tools/publish/PublishNames.h"
#include "tools/publish/PublishVerifyChunks.h"
#include "tools/publish/PublishVerifyObjects.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <random>

namespace fs = std::filesystem;

namespace publish {

namespace {

struct Entry {
    std::string section;
    std::string line;
    std::string path;
    std::string digest;
    int64_t size = 0;
};

bool IsDigest(const std::string& text) {
    return text.size() == 32 &&
           std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// Downloads url into path; false with the reason when it cannot be had.
bool Download(const std::string& url, const std::string& path, std::string& why, int64_t& received) {
    switch (DownloadToFile(url, path, {}, &received)) {
    case TDownloadResult::Complete: return true;
    case TDownloadResult::CannotOpen: why = "cannot open " + url; break;
    case TDownloadResult::CannotCreate: why = "cannot create " + path; break;
    case TDownloadResult::Cut:
        why = "the download of " + url + " broke off after " + std::to_string(received) + " bytes";
        break;
    case TDownloadResult::TooLarge: why = "the answer to " + url + " is too large"; break;
    case TDownloadResult::Damaged: why = "the answer to " + url + " is not what the list names"; break;
    }
    return false;
}

class Verifier {
public:
    Verifier(std::string baseUrl, std::string folder, bool keep, std::optional<TListPublicKey> key, bool mirrors)
        : base_(WithSlash(baseUrl)), folder_(folder), keep_(keep), mirrors_(mirrors), key_(key), chunks_(base_) {}

    VerifyReport Run(const std::function<void(size_t, size_t, const std::string&)>& onEntry) {
        const std::string list = folder_ + "\\" + names::kList;
        const std::string listPayload = folder_ + "\\" + names::kListPayload;
        std::string why;
        int64_t received;
        if (!Download(base_ + names::kListPayload, listPayload, why, received)) return Fail(why);
        if (key_ && !SignatureMatches(listPayload, why)) {
            platform::RemoveFile(listPayload);
            return Fail(why + "; launchers built with this key refuse the whole set");
        }
        // Sets published with objects have the signature also under the list's own name.
        const std::string signatureObjectProblem = key_ ? ObjectCheck(base_).SignatureProblem(listPayload, *key_) : "";
        try {
            UnpackFile(listPayload, list, nullptr, kMaxListBytes);
        } catch (const Exception& error) {
            platform::RemoveFile(list);
            return Fail(std::string(names::kListPayload) + " does not unpack (" + error.what() + ")");
        }
        std::vector<Entry> entries;
        try {
            entries = ReadEntries(list);
        } catch (const Exception& error) {
            platform::RemoveFile(list);
            return Fail(std::string(names::kList) + " cannot be read as launchers read it (" + error.what() + ")");
        }
        platform::RemoveFile(list);
        if (key_ && keep_) {
            const int32_t installed = TInstallFolder(folder_).StoredRevision();
            if (report_.revision < installed)
                return Fail("revision " + std::to_string(report_.revision) + " is older than revision " +
                            std::to_string(installed) + " installed in " + folder_ +
                            "; launchers there refuse it as a set played back");
        }
        report_.entries = entries.size();
        // Launchers of sets published with objects take everything from them, on the update URL and
        // on every mirror.
        std::vector<ObjectCheck> sources{ObjectCheck(base_)};
        if (mirrors_)
            for (const std::string& mirror : additions_.Mirrors()) sources.emplace_back(mirror);
        if (additions_.HasObjects() && !signatureObjectProblem.empty())
            report_.problems.push_back(signatureObjectProblem + "; launchers fall back to " + names::kListSignature);
        for (size_t i = 0; i < entries.size(); ++i) {
            if (onEntry) onEntry(i, entries.size(), entries[i].path);
            const std::optional<int64_t> size = CheckPayload(entries[i]);
            // Beside the payload's unpacked file, under the name the launcher unpacks to (never a listed one).
            const std::string scratch = folder_ + "\\" + entries[i].path + names::kUnpackSuffix;
            for (const std::string& problem : chunks_.Check(entries[i].path, entries[i].digest, size, scratch))
                Problem(entries[i], problem);
            const TFileObjects* objects = additions_.ObjectsOf(entries[i].digest);
            if (additions_.HasObjects() && (!objects || !objects->payload))
                Problem(entries[i], "the list names no payload object for it; launchers fetch it from beside the list");
            if (!objects) continue;
            for (size_t k = 0; k < sources.size(); ++k)
                for (const std::string& problem : sources[k].Check(*objects, k > 0))
                    Problem(entries[i], (k > 0 ? "mirror " + additions_.Mirrors()[k - 1] + ": " : std::string()) + problem);
        }
        return report_;
    }

private:
    VerifyReport Fail(const std::string& why) {
        report_.problems.push_back(why);
        return report_;
    }
    void Problem(const Entry& entry, const std::string& what) {
        report_.problems.push_back(entry.section + " " + entry.path + ": " + what);
    }

    std::vector<Entry> ReadEntries(const std::string& list) {
        TListFile reader(list);
        additions_ = TListAdditions::Read(reader);
        try {
            report_.revision = StrToInt(reader.GetValue("settings", "Rev"));
        } catch (const EConvertError&) {
            report_.problems.push_back("settings: Rev is missing or not a number");
        }
        int32_t modHosts = 0;
        try {
            modHosts = StrToInt(reader.GetValue("settings", "ModHosts"));
        } catch (const EConvertError&) {
            report_.problems.push_back("settings: ModHosts is missing or not a number");
        }
        if (modHosts == 1) {
            TStringList hosts = reader.GetSection("hosts");
            for (const std::string& line : hosts)
                if (line == kListFail || SplitReversed(line, "|").size() < 2)
                    report_.problems.push_back("hosts: \"" + line + "\" is not an address and a host name");
        }
        std::vector<Entry> entries;
        std::map<std::string, std::string> seen;
        for (const char* section : {"self", "files_critical", "files_normal"}) {
            TStringList lines = reader.GetSection(section);
            if (lines.empty() || lines[0] == kListFail) continue;
            if (std::string(section) == "self" && lines.size() > 1)
                report_.problems.push_back("self: launchers use only the first of its " + std::to_string(lines.size()) +
                                           " lines");
            for (const std::string& line : lines) {
                Entry entry{section, line, "", "", 0};
                if (!ParseEntry(entry)) continue;
                auto [other, fresh] = seen.emplace(FoldCase(entry.path), section);
                if (!fresh) Problem(entry, "listed twice (also in " + other->second + "); launchers install it twice");
                entries.push_back(entry);
                if (std::string(section) == "self") break;
            }
        }
        return entries;
    }

    bool ParseEntry(Entry& entry) {
        TFileEntry parsed;
        try {
            parsed = TFileEntry::Parse(entry.line);
        } catch (const EStringListError&) {
            report_.problems.push_back(entry.section + ": \"" + entry.line + "\" has fewer than three fields");
            return false;
        }
        entry.path = parsed.Path;
        entry.digest = parsed.Digest;
        try {
            entry.size = parsed.Size();
        } catch (const EConvertError&) {
            Problem(entry, "the size \"" + parsed.SizeText + "\" is not a number");
            return false;
        }
        if (entry.size < 0) Problem(entry, "negative size");
        if (!IsDigest(entry.digest)) Problem(entry, "\"" + entry.digest + "\" is not 32 lower-case hex digits");
        const std::string reason =
            entry.section == "self" ? UnsafeSelfNameReason(entry.path) : UnsafePathReason(entry.path);
        if (!reason.empty()) {
            Problem(entry, "launchers refuse it: " + reason);
            return false;
        }
        return true;
    }

    static std::string WithSlash(std::string url) {
        if (url.empty() || url.back() != '/') url += '/';
        return url;
    }

    // The size the payload unpacks to, when it does.
    std::optional<int64_t> CheckPayload(const Entry& entry) {
        const std::string local = folder_ + "\\" + entry.path;
        const std::string payload = local + names::kPayloadSuffix;
        std::string folder = ExtractFilePath(local);
        platform::MakeFolders(folder.substr(0, folder.size() - 1));
        const std::string url = names::PayloadUrl(base_, entry.path);
        std::string why;
        int64_t received = 0;
        if (!Download(url, payload, why, received)) {
            platform::RemoveFile(payload);
            Problem(entry, why);
            return std::nullopt;
        }
        std::string head(3, '\0');
        {
            platform::File file = platform::File::OpenRead(payload);
            head.resize(file.Read(&head[0], 3));
        }
        if (head != "BZh") {
            platform::RemoveFile(payload);
            Problem(entry, "payload missing on the server or not bzip2 data (the answer to " + url + " is " +
                               std::to_string(received) + " bytes of something else)");
            return std::nullopt;
        }
        if (received != entry.size)
            Problem(entry, "wrong size: listed " + std::to_string(entry.size) + ", the payload has " +
                               std::to_string(received) + " bytes");
        TMD5Context context;
        std::optional<int64_t> unpacked;
        try {
            TFileStream source(payload, TFileStream::Mode::OpenReadDenyWrite);
            TFileStream target(local, TFileStream::Mode::Create);
            UnpackStream(source, target, nullptr, &context);
            const int64_t size = target.Position();
            target.Close();
            unpacked = size;
        } catch (const Exception& error) {
            Problem(entry, "the payload does not unpack (" + std::string(error.what()) + ")");
        }
        TMD5Digest digest;
        context.Final(digest);
        platform::RemoveFile(payload);
        if (!keep_) platform::RemoveFile(local);
        if (unpacked && DigestToHex(digest) != entry.digest)
            Problem(entry, "wrong digest: listed " + entry.digest + ", the payload unpacks to " + DigestToHex(digest));
        return unpacked;
    }

    bool SignatureMatches(const std::string& listPath, std::string& why) {
        const std::string url = base_ + names::kListSignature;
        std::string text;
        switch (DownloadToMemory(url, kSignatureFileMaxBytes, &text)) {
        case TDownloadResult::Complete: break;
        case TDownloadResult::CannotOpen: why = "no signature: cannot open " + url; return false;
        case TDownloadResult::TooLarge:
            why = std::string(names::kListSignature) + " is longer than a signature file can be";
            return false;
        default: why = "no signature: the download of " + url + " broke off"; return false;
        }
        const std::optional<TListSignature> signature = ParseSignatureFile(text);
        if (!signature) {
            why = std::string(names::kListSignature) +
                  " is missing or not a signature file (the server answered with something else)";
            return false;
        }
        if (!VerifyFileSignature(listPath, *signature, *key_)) {
            why = std::string("the signature does not match ") + names::kListPayload + " and the public key";
            return false;
        }
        return true;
    }

    std::string base_;
    std::string folder_;
    bool keep_;
    bool mirrors_;
    std::optional<TListPublicKey> key_;
    TListAdditions additions_;
    ChunkIndexCheck chunks_;
    VerifyReport report_;
};

} // namespace

VerifyReport Verify(const std::string& baseUrl, const std::string& installDir,
                    const std::function<void(size_t, size_t, const std::string&)>& onEntry,
                    const std::string& publicKey, bool mirrors) {
    std::optional<TListPublicKey> key;
    if (!publicKey.empty()) {
        key = ParsePublicKeyHex(publicKey);
        if (!key) return VerifyReport{0, 0, {"the public key is not 64 hexadecimal digits"}};
    }
    if (!installDir.empty()) {
        if (!platform::IsFolder(installDir) && !platform::MakeFolders(installDir))
            return VerifyReport{0, 0, {"cannot create the folder " + installDir}};
        return Verifier(baseUrl, installDir, true, key, mirrors).Run(onEntry);
    }
    std::random_device random;
    fs::path scratch = fs::temp_directory_path() /
                       ("vandrel-verify-" + std::to_string(random()) + "-" +
                        std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::error_code error;
    fs::create_directories(scratch, error);
    if (error) return VerifyReport{0, 0, {"cannot create a scratch folder: " + error.message()}};
    VerifyReport report = Verifier(baseUrl, scratch.string(), false, key, mirrors).Run(onEntry);
    fs::remove_all(scratch, error);
    return report;
}

} // namespace publish
