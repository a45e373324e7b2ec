// Unpacking one large payload on several threads: its blocks are decoded at once and their output is
// handed over strictly in order, in memory bounded whatever the payload holds.
#pragma once

#include "support/Stream.h"

#include <cstdint>

// Where the output of the block decoding goes, on the calling thread and in stream order.
class TBlockSink {
public:
    virtual ~TBlockSink() = default;
    // The next piece of output: pieceBytes long, shorter only for the stream's last piece.
    virtual void Piece(const char* bytes, int32_t size) = 0;
    // Compressed bytes consumed from the stream's start, never fewer than the last time. Called often
    // enough (at least every 50 ms) that an exception thrown here breaks the unpack off promptly.
    virtual void Consumed(int64_t bytes) = 0;
};

// Decodes the bzip2 stream that starts at the source's position with `threads` decoding threads.
// Returns true when the rest of the source is exactly one whole, intact stream and all of its
// output went to the sink. Returns false as soon as anything is otherwise: the pieces handed over
// until then are the same first pieces the single decoder writes before it meets the problem
// itself (it writes pieceBytes at a time too), so the caller finishes with that decoder. Exceptions
// from the sink end every thread and pass through.
bool UnpackBlocks(TStream& source, unsigned threads, int32_t pieceBytes, TBlockSink& sink);
