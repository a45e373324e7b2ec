#include "tests/common/TestUtil.h"

#include "platform/Platform.h"
#include "support/Misc.h"
#include "support/md5.h"

#include <algorithm>
#include <atomic>
#include <bzlib.h>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace testutil {

namespace {
std::string TempRoot() {
#ifdef _WIN32
    char buffer[MAX_PATH];
    DWORD n = GetTempPathA(MAX_PATH, buffer);
    std::string root(buffer, n);
    if (!root.empty() && root.back() == '\\') root.pop_back();
    return root;
#else
    return "/tmp";
#endif
}

int ProcessId() {
#ifdef _WIN32
    return static_cast<int>(GetCurrentProcessId());
#else
    return static_cast<int>(getpid());
#endif
}
} // namespace

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = TempRoot() + "\\vandrel-test-" + std::to_string(ProcessId()) + "-" + std::to_string(counter++) + "-" +
            std::to_string(stamp % 1000000);
    if (!platform::MakeFolders(path_)) throw std::runtime_error("cannot create " + path_);
}

TempDir::~TempDir() { DeleteFolder(path_); }

void WriteBytes(const std::string& path, const std::string& bytes) {
    platform::File file = platform::File::Create(path);
    file.Write(bytes.data(), bytes.size());
    file.Close();
}

std::string ReadBytes(const std::string& path) {
    platform::File file = platform::File::OpenRead(path);
    std::string bytes;
    char buffer[65536];
    for (;;) {
        size_t got = file.Read(buffer, sizeof buffer);
        if (got == 0) break;
        bytes.append(buffer, got);
    }
    return bytes;
}

std::string Compress(const std::string& bytes, int blockSize) {
    std::vector<char> out(bytes.size() + bytes.size() / 100 + 1024);
    unsigned int length = static_cast<unsigned int>(out.size());
    int r = BZ2_bzBuffToBuffCompress(out.data(), &length, const_cast<char*>(bytes.data()),
                                     static_cast<unsigned int>(bytes.size()), blockSize, 0, 0);
    if (r != BZ_OK) throw std::runtime_error("compression failed");
    return std::string(out.data(), length);
}

std::string RandomBytes(size_t count, uint32_t seed) {
    std::string bytes(count, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (char& c : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x >> 24);
    }
    return bytes;
}

std::string Md5Hex(const std::string& bytes) {
    TMD5Context context;
    context.Update(bytes.data(), bytes.size());
    TMD5Digest digest;
    context.Final(digest);
    return DigestToHex(digest);
}

std::string Md5OfFile(const std::string& path) {
    TMD5Digest digest;
    DigestFile(path, digest);
    return DigestToHex(digest);
}

std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(no error)";
}

int32_t TMemoryStream::Read(void* buffer, int32_t count) {
    const int64_t n = std::min<int64_t>(count, static_cast<int64_t>(bytes_.size()) - position_);
    if (n <= 0) return 0;
    std::memcpy(buffer, bytes_.data() + position_, static_cast<size_t>(n));
    position_ += n;
    return static_cast<int32_t>(n);
}

int32_t TMemoryStream::Write(const void* buffer, int32_t count) {
    if (count <= 0) return 0;
    if (bytes_.size() < static_cast<size_t>(position_)) bytes_.resize(static_cast<size_t>(position_));
    bytes_.replace(static_cast<size_t>(position_), static_cast<size_t>(count), static_cast<const char*>(buffer),
                   static_cast<size_t>(count));
    position_ += count;
    return count;
}

int64_t TMemoryStream::Seek64(int64_t offset, TSeekOrigin origin) {
    const int64_t base = origin == TSeekOrigin::soBeginning ? 0
                         : origin == TSeekOrigin::soCurrent ? position_
                                                            : static_cast<int64_t>(bytes_.size());
    position_ = base + offset;
    return position_;
}

} // namespace testutil
