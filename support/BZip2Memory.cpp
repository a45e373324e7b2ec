#include "support/BZip2Memory.h"

#include <cstddef>
#include <cstdlib>
#include <vector>

namespace bzmemory {

namespace {

// Each block carries its size in a header, since libbz2 frees without telling it.
constexpr size_t kHeaderBytes = alignof(std::max_align_t) > sizeof(size_t) ? alignof(std::max_align_t) : sizeof(size_t);
// Enough for every block of one level-9 compression record (about 7.6 MiB) or two decoders.
constexpr size_t kMaxCachedBytes = 16u << 20;

class TBlockCache {
public:
    TBlockCache() = default;
    TBlockCache(const TBlockCache&) = delete;
    TBlockCache& operator=(const TBlockCache&) = delete;
    ~TBlockCache() {
        for (void* block : free_) std::free(block);
    }

    void* Take(size_t size) {
        for (size_t i = 0; i < free_.size(); ++i) {
            if (SizeOf(free_[i]) != size) continue;
            void* block = free_[i];
            free_.erase(free_.begin() + static_cast<std::ptrdiff_t>(i));
            cached_ -= size;
            return static_cast<char*>(block) + kHeaderBytes;
        }
        void* block = std::malloc(kHeaderBytes + size);
        if (!block) return nullptr;
        *static_cast<size_t*>(block) = size;
        return static_cast<char*>(block) + kHeaderBytes;
    }

    void Give(void* user) {
        void* block = static_cast<char*>(user) - kHeaderBytes;
        const size_t size = SizeOf(block);
        if (cached_ + size > kMaxCachedBytes) {
            std::free(block);
            return;
        }
        free_.push_back(block);
        cached_ += size;
    }

private:
    static size_t SizeOf(void* block) { return *static_cast<size_t*>(block); }

    std::vector<void*> free_;
    size_t cached_ = 0;
};

TBlockCache& ThreadCache() {
    thread_local TBlockCache cache;
    return cache;
}

void* Allocate(void*, int items, int size) {
    if (items <= 0 || size <= 0) return nullptr;
    return ThreadCache().Take(static_cast<size_t>(items) * static_cast<size_t>(size));
}

void Release(void*, void* block) {
    if (block) ThreadCache().Give(block);
}

} // namespace

void UseThreadCache(bz_stream& record) {
    record.bzalloc = &Allocate;
    record.bzfree = &Release;
    record.opaque = nullptr;
}

} // namespace bzmemory
