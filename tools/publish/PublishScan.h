// Finding the files of a client folder that go into the update set, and their digests.
#pragma once

#include "tools/publish/Publish.h"
#include "tools/publish/WorkerPool.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace publish {

struct ClientFile {
    std::string sourcePath; // where to read it
    std::string listPath;   // as the list names it
    bool critical = false;
    uint64_t size = 0;
    std::string digest; // filled in by DigestClient
};

struct ClientScan {
    std::vector<ClientFile> files; // sorted by list path
    std::optional<ClientFile> self;
};

// Checks the folders (outDir must not lie inside clientDir or the other way round) and walks the
// client. Throws EPublishError for anything the launcher could not install safely.
ClientScan ScanClient(const PublishOptions& options);

// Digests every file on the pool's threads. Throws EPublishError naming a file that cannot be read.
void DigestClient(ClientScan& scan, WorkerPool& pool, const std::function<void(const PublishProgress&)>& progress);

// The MD5 of a file's contents as 32 lower-case hex digits; EPublishError when it cannot be read.
std::string DigestSource(const std::string& path, uint64_t* size = nullptr);

} // namespace publish
