// Helpers shared by the native and the Windows tests.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

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
// MD5 of the bytes as 32 lower-case hex digits.
std::string Md5Hex(const std::string& bytes);
// DigestFile of a file as 32 lower-case hex digits.
std::string Md5OfFile(const std::string& path);
// The message of the exception the action raises, or "(no error)".
std::string ErrorOf(const std::function<void()>& action);

} // namespace testutil
