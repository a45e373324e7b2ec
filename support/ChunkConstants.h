// Every constant of the chunk format and of its use, in one place: what the publisher cuts and stores,
// what a launcher accepts, and where each of them looks at chunks at all. Changing the cut sizes or the
// format constants changes every chunk of every set (see docs/formats.md); the known-answer tests in
// tests/common/ChunksTest.cpp pin them.
#pragma once

#include <cstddef>
#include <cstdint>

// The sizes a chunker cuts between; avgSize is a power of two. Recorded in every chunk index, so a
// launcher cuts a player's old file exactly as the publisher cut the new one.
struct TChunkParams {
    uint32_t minSize = 0;
    uint32_t avgSize = 0;
    uint32_t maxSize = 0;
    bool operator==(const TChunkParams& other) const {
        return minSize == other.minSize && avgSize == other.avgSize && maxSize == other.maxSize;
    }
};

// The sizes vandrel-publish uses (chosen by the delta benchmarks).
constexpr TChunkParams kDefaultChunkParams{64 << 10, 256 << 10, 1 << 20};

// The chunk sizes an index may give, a factor of four around what vandrel-publish writes either way.
// They bound a launcher's memory: the old file's chunk map by the smallest, every buffer that holds a
// chunk (the connections', the assembly's, the chunker's) by the largest.
constexpr uint32_t kLeastChunkBytes = 16 << 10;
constexpr uint32_t kMaxChunkBytes = 4 << 20;

// The zstd level of every chunk vandrel-publish stores: decoding costs the same at any level, and past
// 12 each step costs far more publishing time than it saves bytes (measured on the benchmarks' data).
constexpr int kChunkLevel = 12;

// The chunk index: a header, then one entry per chunk.
constexpr size_t kChunkIndexHeaderBytes = 64;
constexpr size_t kChunkIndexEntryBytes = 40;
// More chunks than this make no index (a 64 GiB file in chunks of 64 KiB).
constexpr uint32_t kMaxIndexedChunks = 1 << 20;
// No chunk index is larger than this.
constexpr uint64_t kMaxChunkIndexBytes = kChunkIndexHeaderBytes + uint64_t(kMaxIndexedChunks) * kChunkIndexEntryBytes;

// The smallest file that chunks are about: a launcher never asks for the index of an old file smaller
// than this (one request saved for every small file), so vandrel-publish puts no smaller file into
// chunks either.
constexpr int64_t kLeastChunkedFileBytes = int64_t(1) << 20;
// The smallest file vandrel-publish puts into chunks unless the operator picks another size.
constexpr uint64_t kDefaultChunkMinFile = uint64_t(4) << 20;
