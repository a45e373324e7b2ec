// The publisher's file routines on an update set's folder: paths in the launcher's form ("\" between
// names) for std::filesystem, folders made for a file and removed once empty, and whole reads.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace publish {

std::filesystem::path FsPath(std::string path);

// Makes the folders a file goes into. Throws EPublishError.
void MakeFoldersFor(const std::string& file);

// The names in a folder, read before any of them goes (nothing when it cannot be read).
std::vector<std::filesystem::path> Listing(const std::filesystem::path& folder);
void RemoveIfEmpty(const std::filesystem::path& folder);
// Removes the folders of a list path below outDir that are left empty, deepest first.
void RemoveEmptyFolders(const std::string& outDir, std::string relative);

// A whole file's bytes. Throws EPublishError when it cannot be read or holds more than most bytes.
std::string ReadFileBytes(const std::string& path, uint64_t most = UINT64_MAX);

} // namespace publish
