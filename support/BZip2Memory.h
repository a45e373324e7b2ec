// Working memory for libbz2 records that are made and ended many times on one thread (a large
// payload's blocks, a publisher's pieces). Each record takes several MiB at level 9; fresh memory of
// that size costs the kernel a page fault per page every time, so blocks freed here are kept for the
// next record on the same thread.
#pragma once

#include <bzlib.h>

namespace bzmemory {

// Points the record's allocation hooks at this thread's cache. Set before the record's Init call.
void UseThreadCache(bz_stream& record);

} // namespace bzmemory
