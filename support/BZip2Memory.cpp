#include "support/BZip2Memory.h"

#include <cstdlib>

namespace bzmemory {

namespace {

// Each block carries its size in a header, since libbz2 frees without telling it.
constexpr size_t kHeaderBytes =
    alignof(std::max_align_t) > sizeof(size_t) ? alignof(std::max_align_t) : sizeof(size_t);
// Enough for every block of one level-9 compression record (about 7.6 MiB) or two decoders.
constexpr size_t kMaxCachedBytes = 16u << 20;

thread_local TThreadCache* current = nullptr; // a plain pointer: nothing to destroy at thread exit

size_t SizeOf(void* block) { return *static_cast<size_t*>(block); }

void* NewBlock(size_t size) {
    void* block = std::malloc(kHeaderBytes + size);
    if (!block) return nullptr;
    *static_cast<size_t*>(block) = size;
    return static_cast<char*>(block) + kHeaderBytes;
}

void* Allocate(void*, int items, int size) {
    if (items <= 0 || size <= 0) return nullptr;
    const size_t bytes = static_cast<size_t>(items) * static_cast<size_t>(size);
    return current ? current->Take(bytes) : NewBlock(bytes);
}

void Release(void*, void* user) {
    if (!user) return;
    if (current) current->Give(user);
    else std::free(static_cast<char*>(user) - kHeaderBytes);
}

} // namespace

TThreadCache::TThreadCache() : outer_(current) { current = this; }

TThreadCache::~TThreadCache() {
    current = outer_;
    for (void* block : free_) std::free(block);
}

void* TThreadCache::Take(size_t size) {
    for (size_t i = 0; i < free_.size(); ++i) {
        if (SizeOf(free_[i]) != size) continue;
        void* block = free_[i];
        free_.erase(free_.begin() + static_cast<std::ptrdiff_t>(i));
        cached_ -= size;
        return static_cast<char*>(block) + kHeaderBytes;
    }
    return NewBlock(size);
}

void TThreadCache::Give(void* user) {
    void* block = static_cast<char*>(user) - kHeaderBytes;
    const size_t size = SizeOf(block);
    if (cached_ + size > kMaxCachedBytes) {
        std::free(block);
        return;
    }
    free_.push_back(block);
    cached_ += size;
}

void UseThreadCache(bz_stream& record) {
    record.bzalloc = &Allocate;
    record.bzfree = &Release;
    record.opaque = nullptr;
}

} // namespace bzmemory
