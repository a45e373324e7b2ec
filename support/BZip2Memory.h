// Working memory for libbz2 records that are made and ended many times on one thread (a large
// payload's blocks, a publisher's pieces). Each record takes several MiB at level 9; fresh memory of
// that size costs the kernel a page fault per page every time, so a thread that makes many records
// keeps what they free for the next one.
#pragma once

#include <bzlib.h>

#include <cstddef>
#include <vector>

namespace bzmemory {

// While it lives, records made on this thread with UseThreadCache take their memory from it and give
// it back to it. Made on the stack of the thread's work loop: a thread-local object with a destructor
// is unsafe on MinGW, whose thread storage can be gone before such destructors run.
class TThreadCache {
public:
    TThreadCache();
    ~TThreadCache();
    TThreadCache(const TThreadCache&) = delete;
    TThreadCache& operator=(const TThreadCache&) = delete;

    void* Take(size_t size);
    void Give(void* user);

private:
    TThreadCache* outer_; // the cache this one stands in for while it lives, if any
    std::vector<void*> free_;
    size_t cached_ = 0;
};

// Points the record's allocation hooks at the thread's cache (plain allocation on a thread without
// one). Set before the record's Init call.
void UseThreadCache(bz_stream& record);

} // namespace bzmemory
