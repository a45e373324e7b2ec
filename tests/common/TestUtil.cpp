#include "tests/common/TestUtil.h"

#include "platform/Platform.h"
#include "support/ChunkIndex.h"
#include "support/LauncherNames.h"
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

#ifdef _WIN32
namespace {
// The Linux name of a Windows path, from Wine's own conversion.
std::string UnixName(const std::string& path) {
    using Convert = char* (*)(const wchar_t*);
    const auto convert = reinterpret_cast<Convert>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!convert) return std::string();
    std::wstring wide(path.begin(), path.end());
    char* name = convert(wide.c_str());
    if (!name) return std::string();
    std::string result = name;
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}
} // namespace

bool UnderWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

// Runs a Linux shell command and waits for it. Wine starts a Linux program as it starts a Windows one,
// but gives no handle to wait on: the command leaves a mark next to where, and that is waited for.
bool RunLinuxCommand(const std::string& command, const std::string& markBeside) {
    const std::string mark = markBeside + ".done";
    std::string line = "Z:\\bin\\sh -c \"" + command + "; touch '" + UnixName(ExtractFilePath(mark)) + "/" +
                       mark.substr(mark.find_last_of('\\') + 1) + "'\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (int i = 0; i < 500 && !platform::IsFile(mark); ++i) Sleep(20);
    return platform::RemoveFile(mark);
}

// The Linux name of a path whose last name may be a link (resolved through its folder only).
std::string UnixLinkName(const std::string& link) {
    const size_t cut = link.find_last_of('\\');
    const std::string folder = UnixName(link.substr(0, cut));
    return folder.empty() ? folder : folder + "/" + link.substr(cut + 1);
}

bool MakeSymbolicLink(const std::string& target, const std::string& link) {
    const std::string unixTarget = UnixName(target), unixLink = UnixLinkName(link);
    if (unixTarget.empty() || unixLink.empty() || !RunLinuxCommand("ln -s '" + unixTarget + "' '" + unixLink + "'", link))
        return false;
    // Wine shows a link to a folder as a reparse point; a link to a file reads as the file.
    return platform::IsFolder(target) ? platform::IsLink(link) : !platform::IsFile(target) || platform::IsFile(link);
}
void RemoveSymbolicLink(const std::string& link) {
    const std::string unixLink = UnixLinkName(link);
    if (!unixLink.empty()) RunLinuxCommand("rm -f '" + unixLink + "'", link);
}
#else
bool UnderWine() { return false; }

void RemoveSymbolicLink(const std::string& link) { unlink(ReplaceAll(link, "\\", "/").c_str()); }

bool MakeSymbolicLink(const std::string& target, const std::string& link) {
    std::string from = target, at = link;
    std::replace(from.begin(), from.end(), '\\', '/');
    std::replace(at.begin(), at.end(), '\\', '/');
    return symlink(from.c_str(), at.c_str()) == 0;
}
#endif

std::vector<std::string> ServeChunks(const std::string& folder, const std::string& listPath, const std::string& content,
                                     const std::string& indexedContent) {
    TChunkIndexHeader header;
    header.params = kDefaultChunkParams;
    header.fileSize = content.size();
    const std::string& named = indexedContent.empty() ? content : indexedContent;
    TMD5Context md5;
    md5.Update(named.data(), named.size());
    md5.Final(header.md5);
    std::string entries;
    std::vector<std::string> chunks;
    const std::string scratch = folder + "\\~content";
    WriteBytes(scratch, content);
    {
        platform::File file = platform::File::OpenRead(scratch);
        ChunkFile(file, kDefaultChunkParams, 1, [&](uint64_t, uint32_t size, const TChunkId& id, const uint8_t* bytes) {
            const std::string stored = CompressChunk(bytes, size, 3);
            platform::MakeFolders(ExtractFilePath(folder + "\\" + names::ChunkStorePath(id)));
            WriteBytes(folder + "\\" + names::ChunkStorePath(id), stored);
            entries += FormatChunkEntry({id, size, static_cast<uint32_t>(stored.size())});
            chunks.push_back(ReplaceAll(names::ChunkStorePath(id), "\\", "/"));
            ++header.chunkCount;
        });
    }
    platform::RemoveFile(scratch);
    WriteBytes(folder + "\\" + listPath + ".chunks", FormatChunkIndexHeader(header) + entries);
    return chunks;
}

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

std::string RebuiltProgram(int version) {
    std::string code = RandomBytes(1200000, 7);
    code.insert(4096, RandomBytes(static_cast<size_t>(300 * version), 100 + static_cast<uint32_t>(version)));
    for (size_t at = 64; at + 4 <= code.size(); at += 64) {
        uint32_t address;
        std::memcpy(&address, code.data() + at, 4);
        address += static_cast<uint32_t>(300 * version);
        std::memcpy(&code[at], &address, 4);
    }
    return code;
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

} // namespace testutil
