#include "tools/publish/PublishList.h"

#include "platform/Platform.h"
#include "support/BZip2.h"
#include "support/LstFile.h"
#include "support/LauncherNames.h"
#include "support/Misc.h"
#include "support/Stream.h"
#include "tools/publish/PublishNames.h"

#include <atomic>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <random>

namespace publish {

namespace {

const char* const kEol = "\r\n";

void AppendSection(std::string& text, const std::string& name, const std::vector<std::string>& lines) {
    text += "[" + name + "]" + kEol;
    for (const std::string& line : lines) text += line + kEol;
    text += "[/" + name + "]" + kEol;
}

std::string EntryLine(const ListEntry& entry) {
    return entry.path + "|" + entry.digest + "|" + std::to_string(entry.payloadSize);
}

std::vector<std::string> EntryLines(const std::vector<ListEntry>& entries) {
    std::vector<std::string> lines;
    for (const ListEntry& entry : entries) lines.push_back(EntryLine(entry));
    return lines;
}

std::vector<ListEntry> ReadEntries(TListFile& reader, const std::string& section, const std::string& where) {
    std::vector<ListEntry> entries;
    TStringList lines = reader.GetSection(section);
    if (lines.empty() || lines[0] == kListFail) return entries;
    for (const std::string& line : lines) {
        TFileEntry parsed;
        try {
            parsed = TFileEntry::Parse(line);
        } catch (const EStringListError&) {
            throw EPublishError(where + ": the " + section + " line \"" + line + "\" has fewer than three fields");
        }
        ListEntry entry;
        entry.path = parsed.Path;
        entry.digest = parsed.Digest;
        try {
            entry.payloadSize = parsed.Size();
        } catch (const EConvertError&) {
            throw EPublishError(where + ": the " + section + " line \"" + line + "\" has no numeric size");
        }
        entries.push_back(entry);
    }
    return entries;
}

int32_t ReadNumber(TListFile& reader, const std::string& key, const std::string& where) {
    std::string value = reader.GetValue("settings", key);
    try {
        return StrToInt(value);
    } catch (const EConvertError&) {
        throw EPublishError(where + ": settings has no numeric " + key + " (\"" + value + "\")");
    }
}

// A file name in the system's temporary folder that no other run uses.
std::string TemporaryName(const std::string& stem) {
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    std::string name = stem + "-" + std::to_string(random()) + "-" + std::to_string(now) + "-" +
                       std::to_string(counter++);
    return (std::filesystem::temp_directory_path() / name).string();
}

} // namespace

std::string FormatList(const UpdateList& list) {
    std::string text;
    AppendSection(text, "settings",
                  {"Rev|" + std::to_string(list.revision), std::string("ModHosts|") + (list.modHosts ? "1" : "0")});
    std::vector<std::string> hosts;
    for (const HostsEntry& entry : list.hosts) hosts.push_back(entry.address + "|" + entry.host);
    AppendSection(text, "hosts", hosts);
    AppendSection(text, "self", list.self ? std::vector<std::string>{EntryLine(*list.self)} : std::vector<std::string>{});
    AppendSection(text, "files_critical", EntryLines(list.critical));
    AppendSection(text, "files_normal", EntryLines(list.normal));
    return text + list.additions.Format();
}

UpdateList ReadList(const std::string& listPath) {
    const std::string where = "the published list";
    TListFile reader(listPath);
    UpdateList list;
    list.revision = ReadNumber(reader, "Rev", where);
    list.modHosts = ReadNumber(reader, "ModHosts", where) == 1;
    TStringList hosts = reader.GetSection("hosts");
    if (!hosts.empty() && hosts[0] != kListFail) {
        for (const std::string& line : hosts) {
            TStringList fields = SplitReversed(line, "|");
            if (fields.size() >= 2) list.hosts.push_back({fields[1], fields[0]});
        }
    }
    std::vector<ListEntry> self = ReadEntries(reader, "self", where);
    if (!self.empty()) list.self = self[0];
    list.critical = ReadEntries(reader, "files_critical", where);
    list.normal = ReadEntries(reader, "files_normal", where);
    list.additions = TListAdditions::Read(reader);
    return list;
}

std::optional<UpdateList> ReadPublishedList(const std::string& outDir) {
    const std::string compressed = outDir + "\\" + names::kListPayload;
    if (!platform::IsFile(compressed)) return std::nullopt;
    try {
        return ReadCompressedList(compressed);
    } catch (const EPublishError& error) {
        throw EPublishError(std::string(error.what()) + "; remove " + names::kListPayload + " in " + outDir +
                            " to publish from scratch");
    }
}

UpdateList ReadCompressedList(const std::string& path) {
    const std::string plain = TemporaryName("vandrel-publish-list");
    struct RemoveAtEnd {
        const std::string& path;
        ~RemoveAtEnd() { platform::RemoveFile(path); }
    } removeAtEnd{plain};
    try {
        TFileStream source(path, TFileStream::Mode::OpenReadDenyWrite);
        TFileStream target(plain, TFileStream::Mode::Create);
        UnpackStream(source, target, nullptr, nullptr, kMaxListBytes);
        target.Close();
    } catch (const Exception& error) {
        throw EPublishError("cannot read the list " + path + " (" + error.what() + ")");
    }
    return ReadList(plain);
}

std::vector<HostsEntry> ReadHostsFile(const std::string& path) {
    std::string text;
    try {
        platform::File file = platform::File::OpenRead(path);
        char buffer[4096];
        for (size_t got; (got = file.Read(buffer, sizeof buffer)) > 0;) text.append(buffer, got);
    } catch (const Exception& error) {
        throw EPublishError("cannot read the hosts entries file " + path + ": " + error.what());
    }
    std::vector<HostsEntry> entries;
    size_t number = 0;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = Trim(text.substr(start, end - start));
        start = end + 1;
        ++number;
        if (line.empty() || line[0] == '#') continue;
        for (char& c : line)
            if (c == '|' || c == '\t') c = ' ';
        std::vector<std::string> words;
        for (size_t at = 0; at < line.size();) {
            size_t next = line.find(' ', at);
            if (next == std::string::npos) next = line.size();
            if (next > at) words.push_back(line.substr(at, next - at));
            at = next + 1;
        }
        const std::string where = path + " line " + std::to_string(number);
        if (words.size() != 2) throw EPublishError(where + ": expected an address and one host name");
        for (const std::string& word : words)
            for (unsigned char c : word)
                if (c >= 0x80 || !(std::isalnum(c) || c == '.' || c == ':' || c == '-' || c == '_'))
                    throw EPublishError(where + ": \"" + word + "\" is not an address or a host name");
        entries.push_back({words[0], words[1]});
    }
    return entries;
}

std::string PayloadPath(const std::string& folder, const std::string& listPath) {
    return folder + "\\" + listPath + names::kPayloadSuffix;
}

void WriteFileAside(const std::string& target, const std::string& bytes) {
    platform::Replacement written(target, names::kPublishTemporarySuffix);
    written.Output().Write(bytes.data(), bytes.size());
    // The list and its signature go to the disk before they take the old ones' place: a crash never
    // leaves a set whose list is lost.
    if (!written.Commit(platform::Replacement::Mode::Plain, true))
        throw EPublishError("cannot rename " + written.TemporaryPath() + " to " + target);
}

} // namespace publish
