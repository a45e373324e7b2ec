// The update list as the launcher reads it: writing files.lst for a new update set and reading back
// the one already published, which tells the next publishing run what it may reuse.
#pragma once

#include "support/ListAdditions.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace publish {

// One file of the update set: its list path (bytes as in the list, "\" between folder names), the MD5
// digest of its contents (32 lower-case hex digits) and the size of its compressed payload.
struct ListEntry {
    std::string path;
    std::string digest;
    int64_t payloadSize = 0;

    bool operator==(const ListEntry& other) const {
        return path == other.path && digest == other.digest && payloadSize == other.payloadSize;
    }
};

// A hosts mapping: address and host name, written as address|host.
struct HostsEntry {
    std::string address;
    std::string host;
};

struct UpdateList {
    int32_t revision = 0;
    bool modHosts = false;
    std::vector<HostsEntry> hosts;
    std::optional<ListEntry> self;
    std::vector<ListEntry> critical;
    std::vector<ListEntry> normal;
    TListAdditions additions; // mirrors, objects, the earlier lists whose objects are kept
};

// files.lst text: the sections settings, hosts, self, files_critical and files_normal in that order,
// then the additions, every line ending with CR LF.
std::string FormatList(const UpdateList& list);

// Reads a files.lst (uncompressed) with the launcher's own list reader. Throws EPublishError when it
// is not a list this tool could have written (no revision, malformed entries).
UpdateList ReadList(const std::string& listPath);

// The list published in outDir as files.lst.bz2, or nothing when there is none yet.
std::optional<UpdateList> ReadPublishedList(const std::string& outDir);
// A compressed list (files.lst.bz2, or a list object). Throws EPublishError.
UpdateList ReadCompressedList(const std::string& path);

// Hosts entries from a text file: one mapping a line, "address host" as in a hosts file or
// "address|host"; blank lines and lines starting with "#" are skipped. Throws EPublishError.
std::vector<HostsEntry> ReadHostsFile(const std::string& path);

// The name of a payload in an update set folder: folder + "\" + list path + ".bz2".
std::string PayloadPath(const std::string& folder, const std::string& listPath);

// Puts bytes into target as launchers must see it: whole or not at all (a platform::Replacement,
// flushed to the disk). Throws EPublishError (or an I/O error).
void WriteFileAside(const std::string& target, const std::string& bytes);

} // namespace publish
