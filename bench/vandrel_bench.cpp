// The launcher's own side of each benchmark: one operation, timed by the caller.
//   vandrel-bench digest FILE
//   vandrel-bench unpack PAYLOAD.bz2 DESTINATION
//   vandrel-bench download URL DESTINATION       (progress reaches a real UI thread)
//   vandrel-bench update BASE_URL INSTALL_DIR    (a whole update run; prints peak memory)
//   vandrel-bench make-client DIR                (the install benchmark's client, always the same bytes)
#include "platform/Platform.h"
#include "support/BZip2.h"
#include "support/md5.h"
#include "tests/native/ThreadedWindow.h"
#include "update/GetFilesThr.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vector>

namespace {
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
    if (argc < 4) return 2;
    if (what == "unpack") {
        // The payload is kept: copy it, since unpacking deletes it.
        const std::string copy = std::string(argv[3]) + ".bz2";
        platform::CopyFileReplacing(argv[2], copy);
        UnpackFile(copy, argv[3]);
        return 0;
    }
    testutil::TThreadedWindow window(argv[3]);
    if (what == "download") {
        GFilesThread worker(window, window.Folder());
        return worker.DownloadFile(argv[2], argv[3], true) ? 0 : 1;
    }
    if (what == "update") {
        platform::SetCurrentFolder(argv[3]);
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
