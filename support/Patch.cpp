#include "support/Patch.h"

#include "support/md5.h"

#define ZSTD_STATIC_LINKING_ONLY // ZSTD_c_nbWorkers and the window limits
#include <zstd.h>

#include <memory>
#include <vector>

namespace {

struct TCContextFree {
    void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};
struct TDContextFree {
    void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};

// The window that reaches from the end of the new file back to the start of the old one.
int WindowLog(uint64_t bytes) {
    int log = ZSTD_WINDOWLOG_MIN;
    while (log < ZSTD_WINDOWLOG_MAX && (uint64_t(1) << log) < bytes) ++log;
    return log;
}

void Check(size_t result) {
    if (ZSTD_isError(result)) throw EPatchError(ZSTD_getErrorName(result));
}

} // namespace

std::string MakePatch(const void* old, size_t oldSize, const void* fresh, size_t freshSize, int level,
                      unsigned threads) {
    std::unique_ptr<ZSTD_CCtx, TCContextFree> context(ZSTD_createCCtx());
    if (!context) throw EPatchError("out of memory");
    Check(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_compressionLevel, level));
    Check(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_windowLog, WindowLog(uint64_t(oldSize) + freshSize)));
    Check(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_enableLongDistanceMatching, 1));
    Check(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_contentSizeFlag, 1));
    if (threads > 1) ZSTD_CCtx_setParameter(context.get(), ZSTD_c_nbWorkers, static_cast<int>(threads)); // where built so
    Check(ZSTD_CCtx_refPrefix(context.get(), old, oldSize));
    std::string patch(ZSTD_compressBound(freshSize), '\0');
    const size_t written = ZSTD_compress2(context.get(), &patch[0], patch.size(), fresh, freshSize);
    Check(written);
    patch.resize(written);
    return patch;
}

void ApplyPatch(const std::string& patch, const void* old, size_t oldSize, TStream& target, TMD5Context& digest,
                const std::function<void(int64_t, int64_t)>& onProgress) {
    // The frame says how large the new file is and how far back it reaches: both bounded before any
    // memory is given to it.
    const unsigned long long total = ZSTD_getFrameContentSize(patch.data(), patch.size());
    if (total == ZSTD_CONTENTSIZE_ERROR || total == ZSTD_CONTENTSIZE_UNKNOWN) throw EPatchError("no patch");
    if (total > static_cast<unsigned long long>(kMaxPatchFileBytes)) throw EPatchError("a new file too large");
    std::unique_ptr<ZSTD_DCtx, TDContextFree> context(ZSTD_createDCtx());
    if (!context) throw EPatchError("out of memory");
    Check(ZSTD_DCtx_setParameter(context.get(), ZSTD_d_windowLogMax, WindowLog(uint64_t(oldSize) + total)));
    Check(ZSTD_DCtx_refPrefix(context.get(), old, oldSize));
    std::vector<char> buffer(ZSTD_DStreamOutSize());
    ZSTD_inBuffer in{patch.data(), patch.size(), 0};
    int64_t done = 0;
    for (;;) {
        ZSTD_outBuffer out{buffer.data(), buffer.size(), 0};
        const size_t left = ZSTD_decompressStream(context.get(), &out, &in);
        Check(left);
        if (out.pos > 0) {
            done += static_cast<int64_t>(out.pos);
            if (done > static_cast<int64_t>(total)) throw EPatchError("more than the frame announces");
            target.WriteBuffer(buffer.data(), static_cast<int32_t>(out.pos));
            digest.Update(buffer.data(), out.pos);
            onProgress(done, static_cast<int64_t>(total));
        }
        if (left == 0) break; // the frame is complete
        if (in.pos == in.size && out.pos < out.size) throw EPatchError("cut short");
    }
    if (in.pos != in.size) throw EPatchError("bytes after the frame");
    if (done != static_cast<int64_t>(total)) throw EPatchError("fewer bytes than the frame announces");
}
