// Helpers shared by the native and the Windows tests.
#pragma once

#include "platform/Platform.h"
#include "support/Stream.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace testutil {

// A fresh folder for one test, removed with everything in it at the end. Path() ends without "\".
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    // Path() + "\" + relative
    std::string operator/(const std::string& relative) const { return path_ + "\\" + relative; }

private:
    std::string path_;
};

void WriteBytes(const std::string& path, const std::string& bytes);
std::string ReadBytes(const std::string& path); // throws when the file cannot be read
// The bytes as one bzip2 stream (block size 9 unless given).
std::string Compress(const std::string& bytes, int blockSize = 9);
// Deterministic pseudo-random bytes.
std::string RandomBytes(size_t count, uint32_t seed);
// A program as a compiler leaves it, at a version: each version inserts a little code near the start,
// which moves every address after it (so nearly every chunk of it changes, and a patch stays small).
std::string RebuiltProgram(int version);
// MD5 of the bytes as 32 lower-case hex digits.
std::string Md5Hex(const std::string& bytes);
// DigestFile of a file as 32 lower-case hex digits.
std::string Md5OfFile(const std::string& path);
// Makes link a symbolic link to target, the way another program of the player's could: natively with
// symlink, under Wine from the Linux side (Wine's own call for it does nothing). False when it failed.
bool MakeSymbolicLink(const std::string& target, const std::string& link);
// Removes a link made by MakeSymbolicLink as Linux does (Wine cannot remove a link to a folder).
void RemoveSymbolicLink(const std::string& link);
// Whether this Windows build runs under Wine (false natively).
bool UnderWine();

// Serves a file's chunks the way a set published with chunks does: its chunk index beside where its
// payload goes in folder, and its chunks in the chunk store. The index names indexedContent's MD5
// (the content's own unless given). Returns the chunks' URL paths in file order.
std::vector<std::string> ServeChunks(const std::string& folder, const std::string& listPath, const std::string& content,
                                     const std::string& indexedContent = std::string());

// The message of the exception the action raises, or "(no error)".
std::string ErrorOf(const std::function<void()>& action);

using ::TMemoryStream; // a stream over bytes held in memory

// Puts the process's current folder back when it goes (declare it after the TempDir it may point
// into, so the folder is left before it is deleted).
struct RestoreFolder {
    std::string folder = platform::CurrentFolder();
    ~RestoreFolder() { platform::SetCurrentFolder(folder); }
};

} // namespace testutil
