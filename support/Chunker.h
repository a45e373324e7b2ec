// Content-defined chunks: a large file is cut where its own bytes say so (a gear hash over the last
// bytes, in the manner of FastCDC), so an edit moves only the cuts next to it and every chunk before
// and after keeps its bytes and its name. A chunk's name is the BLAKE2b-256 hash of its bytes.
#pragma once

#include "platform/Platform.h"
#include "support/ChunkConstants.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

using TChunkId = std::array<uint8_t, 32>;

// Hashes a chunk id over all its bytes with a key chosen at random when the program starts (SipHash):
// ids come from the server, and no choice of them can make a table of them slow.
struct TChunkIdHash {
    size_t operator()(const TChunkId& id) const;
};

// Whether the sizes are ones an index may give: kLeastChunkBytes <= min <= avg <= max <= kMaxChunkBytes,
// avg a power of two.
bool ValidChunkParams(const TChunkParams& params);

// The length of the chunk that starts at data, given size bytes from there (fewer than maxSize only
// at the end of the file).
size_t ChunkLength(const uint8_t* data, size_t size, const TChunkParams& params);

TChunkId ChunkIdOf(const void* data, size_t size);
std::string ChunkIdToHex(const TChunkId& id);

// Cuts a whole file into chunks and names each: onChunk(offset, size, id, bytes) in file order, bytes
// valid during the call only. The cutting reads the file once through a bounded buffer; naming is spread
// over `threads` threads. Raises what reading raises (EInOutError).
using TOnChunk = std::function<void(uint64_t offset, uint32_t size, const TChunkId& id, const uint8_t* bytes)>;
void ChunkFile(platform::File& file, const TChunkParams& params, unsigned threads, const TOnChunk& onChunk);
