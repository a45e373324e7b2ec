// Applying a patch from a server or a mirror to a player's file: damaged patches (a sound one with the
// input's bytes laid over it, and cut where the input says) and arbitrary bytes never crash, never
// write more than the frame announces (and never past the bound), and fail with the patch's own error.
#include "support/Patch.h"
#include "support/md5.h"

#include <string>

namespace {
class TCountingStream final : public TStream {
public:
    int32_t Read(void*, int32_t) override { return 0; }
    int32_t Write(const void*, int32_t count) override {
        written += count;
        if (written > kMaxPatchFileBytes) __builtin_trap();
        return count;
    }
    int32_t Seek(int32_t, TSeekOrigin) override { return 0; }
    int64_t Seek64(int64_t, TSeekOrigin) override { return 0; }
    int64_t written = 0;
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string old = [] {
        std::string bytes(1 << 16, '\0');
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
        return bytes;
    }();
    static const std::string sound = [] {
        std::string fresh = old;
        fresh.insert(100, "a change near the start");
        for (size_t i = 0; i + 4 <= fresh.size(); i += 64) fresh[i] ^= 3;
        return MakePatch(old.data(), old.size(), fresh.data(), fresh.size(), 3);
    }();
    std::string patch(reinterpret_cast<const char*>(data), size);
    if (size > 0 && data[0] % 2 == 0) {
        // The sound patch, damaged: XORed with the input from its second byte on, cut to its length.
        patch = sound;
        for (size_t i = 1; i < size && i - 1 < patch.size(); ++i) patch[i - 1] ^= static_cast<char>(data[i]);
        if (size > 1 && size - 1 < patch.size() && data[0] % 4 == 0) patch.resize(size - 1);
    }
    TCountingStream target;
    TMD5Context digest;
    try {
        ApplyPatch(patch, old.data(), old.size(), target, digest,
                   [](int64_t done, int64_t total) {
                       if (done > total) __builtin_trap();
                   });
    } catch (const EPatchError&) {
        // not a patch for this file
    }
    return 0;
}
