// The launcher's own side of each benchmark: one operation, timed by the caller.
//   vandrel-bench digest FILE
//   vandrel-bench unpack PAYLOAD.bz2 DESTINATION   (DESTINATION - : the output is thrown away)
//   vandrel-bench download URL DESTINATION       (progress reaches a real UI thread)
//   vandrel-bench update BASE_URL INSTALL_DIR    (a whole update run; prints peak memory)
//   vandrel-bench make-client DIR                (the install benchmark's client, always the same bytes)
//   vandrel-bench make-archive OLD NEW MIB       (the delta benchmarks' archive and its next version)
#include "platform/Platform.h"
#include "support/BZip2.h"
#include "support/md5.h"
#include "tests/native/ThreadedWindow.h"
#include "update/GetFilesThr.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vector>

namespace {
// A target that takes every byte and keeps none.
class TDiscardStream final : public TStream {
public:
    int32_t Read(void*, int32_t) override { return 0; }
    int32_t Write(const void*, int32_t count) override { return count; }
    int32_t Seek(int32_t, TSeekOrigin) override { return 0; }
    int64_t Seek64(int64_t, TSeekOrigin) override { return 0; }
};

long PeakMemoryKiB() {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// xoshiro256** from a fixed seed: the same client on every machine, written at disk speed.
class TRandom {
  public:
    explicit TRandom(uint64_t seed) {
        for (auto& word : state_) {
            seed += 0x9e3779b97f4a7c15ULL; // splitmix64 spreads the seed over the state
            uint64_t z = seed;
            z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
            z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
            word = z ^ (z >> 31);
        }
    }
    uint64_t Next() {
        const uint64_t result = Rotl(state_[1] * 5, 7) * 9;
        const uint64_t t = state_[1] << 17;
        state_[2] ^= state_[0];
        state_[3] ^= state_[1];
        state_[1] ^= state_[2];
        state_[0] ^= state_[3];
        state_[2] ^= t;
        state_[3] = Rotl(state_[3], 45);
        return result;
    }

  private:
    static uint64_t Rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    uint64_t state_[4];
};

// 2,000 files of 256 KiB in data00..data19 (f00.dat..f99.dat): the even ones text-like (base64 in
// lines of 76 characters, which compresses as game scripts and configs do), the odd ones random bytes.
int MakeClient(const std::string& dir) {
    constexpr size_t kFileSize = 256 * 1024;
    static const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    TRandom random(20240611);
    std::vector<unsigned char> bytes(kFileSize);
    mkdir(dir.c_str(), 0755);
    for (int d = 0; d < 20; ++d) {
        char folder[32];
        std::snprintf(folder, sizeof folder, "/data%02d", d);
        const std::string path = dir + folder;
        if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) return 1;
        for (int f = 0; f < 100; ++f) {
            if (f % 2 == 0) {
                size_t column = 0;
                uint64_t bits = 0;
                int left = 0;
                for (auto& b : bytes) {
                    if (column == 76) {
                        b = '\n';
                        column = 0;
                        continue;
                    }
                    if (left == 0) bits = random.Next(), left = 10; // ten 6-bit digits per draw
                    b = kBase64[bits & 63];
                    bits >>= 6, --left, ++column;
                }
            } else {
                for (size_t i = 0; i < kFileSize; i += 8) {
                    const uint64_t word = random.Next();
                    std::memcpy(&bytes[i], &word, 8);
                }
            }
            char name[32];
            std::snprintf(name, sizeof name, "/f%02d.dat", f);
            FILE* out = std::fopen((path + name).c_str(), "wb");
            if (!out) return 1;
            const bool written = std::fwrite(bytes.data(), 1, kFileSize, out) == kFileSize;
            if (std::fclose(out) != 0 || !written) return 1;
        }
    }
    return 0;
}
// Game-archive-like bytes: text-like records (lines of words and numbers, which compress about 4:1)
// and incompressible blobs, in runs of 64 KiB to 2 MiB.
void ArchiveBytes(TRandom& random, size_t size, std::string& out) {
    static const char* const kWords[] = {"guard", "merchant", "sword", "potion", "quest", "village", "dragon",
                                         "spawn", "loot", "gold", "shield", "arrow", "wolf", "ruin", "keep"};
    while (size > 0) {
        size_t run = 65536 + random.Next() % (2 << 20);
        if (run > size) run = size;
        const size_t start = out.size();
        if (random.Next() % 3 != 0) {
            while (out.size() - start < run) {
                char line[160];
                const int n = std::snprintf(line, sizeof line, "%s_%u;%s;%u;%u;%s\n", kWords[random.Next() % 15],
                                            unsigned(random.Next() % 100000), kWords[random.Next() % 15],
                                            unsigned(random.Next() % 1000), unsigned(random.Next() % 1000),
                                            kWords[random.Next() % 15]);
                out.append(line, static_cast<size_t>(n));
            }
            out.resize(start + run);
        } else {
            for (size_t i = 0; i < run; i += 8) {
                const uint64_t word = random.Next();
                out.append(reinterpret_cast<const char*>(&word), std::min<size_t>(8, run - i));
            }
        }
        size -= run;
    }
}

bool WriteAll(const std::string& path, const std::string& bytes) {
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    return std::fclose(out) == 0 && written;
}

// An archive of mib MiB and its next version, changed as a game update changes one: 20 small edits in
// place, 8 MiB inserted at a third, 2 MiB removed at two thirds, 16 MiB appended.
int MakeArchive(const std::string& oldPath, const std::string& newPath, size_t mib) {
    TRandom random(20261208);
    std::string bytes;
    bytes.reserve((mib + 24) << 20);
    ArchiveBytes(random, mib << 20, bytes);
    if (!WriteAll(oldPath, bytes)) return 1;
    for (int edit = 0; edit < 20; ++edit) {
        const size_t at = random.Next() % (bytes.size() - 256), length = 16 + random.Next() % 200;
        for (size_t i = 0; i < length; ++i) bytes[at + i] = static_cast<char>(random.Next());
    }
    std::string inserted;
    ArchiveBytes(random, 8 << 20, inserted);
    bytes.insert(bytes.size() / 3, inserted);
    bytes.erase(bytes.size() * 2 / 3, 2 << 20);
    ArchiveBytes(random, 16 << 20, bytes);
    return WriteAll(newPath, bytes) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const std::string what = argv[1];
    if (what == "digest") {
        TMD5Digest digest;
        DigestFile(argv[2], digest);
        std::printf("%s\n", DigestToHex(digest).c_str());
        return 0;
    }
    if (what == "make-client") return MakeClient(argv[2]);
    if (what == "make-archive" && argc == 5) return MakeArchive(argv[2], argv[3], std::strtoul(argv[4], nullptr, 10));
    if (argc < 4) return 2;
    if (what == "unpack" && std::strcmp(argv[3], "-") == 0) {
        // Output thrown away: only the decoding and its memory count.
        TFileStream source(argv[2], TFileStream::Mode::OpenReadDenyWrite);
        TDiscardStream discard;
        UnpackStream(source, discard);
        return 0;
    }
    if (what == "unpack") {
        // The payload is kept: copy it, since unpacking deletes it.
        const std::string copy = std::string(argv[3]) + ".bz2";
        platform::CopyFileReplacing(argv[2], copy);
        UnpackFile(copy, argv[3]);
        return 0;
    }
    // The install folder as the launcher takes it: the current folder, made absolute.
    if (what == "update") platform::SetCurrentFolder(argv[3]);
    testutil::TThreadedWindow window(what == "update" ? platform::CurrentFolder() : std::string(argv[3]));
    if (what == "download") {
        GFilesThread worker(window, window.Folder());
        return worker.DownloadFile(argv[2], argv[3], true) ? 0 : 1;
    }
    if (what == "update") {
        GFilesThread worker(window, window.Folder());
        worker.BaseURL = argv[2];
        worker.FullCheck = true;
        worker.Execute();
        std::string status;
        window.OnUiThread([&] { status = window.Label3Caption; });
        std::fprintf(stderr, "peak memory %ld KiB, status \"%s\"\n", PeakMemoryKiB(), status.c_str());
        return status == "Обновление неудалось" ? 1 : 0;
    }
    return 2;
}
