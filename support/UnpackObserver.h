// The progress side of an unpack, apart from the bzip2 library: the update worker watches unpacks
// without needing the decoder's headers.
#pragma once

#include "support/Stream.h"

#include <cstdint>

// What an unpack tells about its progress, always on the thread that called it: the compressed
// source at the start, how far into it the output written so far reaches (a source position that
// never moves back), and the end (whatever happened). An exception thrown from UnpackProgress
// breaks the unpack off and passes through it.
class UnpackObserver {
public:
    virtual ~UnpackObserver() = default;
    virtual void UnpackStarted(TStream& source) = 0;
    virtual void UnpackProgress(int64_t consumed) = 0;
    virtual void UnpackFinished() = 0;
};
