// A large file's chunk index, published beside its payload in sets made with chunks: which chunks, in
// which order, make the file, and what the file is (size and MD5, equal to its list entry). A launcher
// that has an older version of the file fetches only the chunks it lacks.
//
// Layout, little-endian: the magic "VANDRCIX", u32 version (1), u32 hash (1: BLAKE2b-256), u32
// compression (1: zstd), u32 minimum, average and maximum chunk size, u64 file size, the file's MD5 (16
// bytes), u32 chunk count, u32 zero; then per chunk its id (32 bytes), u32 size and u32 compressed size.
// Each chunk is stored on its own, compressed (names::kChunkStoreFolder).
#pragma once

#include "platform/Errors.h"
#include "support/Chunker.h"
#include "support/Stream.h"
#include "support/md5.h"

#include <cstdint>
#include <string>
#include <vector>

struct TChunkIndexHeader {
    TChunkParams params;
    uint64_t fileSize = 0;
    TMD5Digest md5{};
    uint32_t chunkCount = 0;
};

struct TChunkEntry {
    TChunkId id{};
    uint32_t size = 0;
    uint32_t compressedSize = 0;
};

// An index that is not one this launcher can use: wrong magic or version, sizes out of bounds, chunks
// that do not add up to the file. The message says which.
class EChunkIndexError : public Exception {
public:
    explicit EChunkIndexError(const std::string& why) : Exception("The chunk index is not usable: " + why) {}
};

std::string FormatChunkIndexHeader(const TChunkIndexHeader& header);
std::string FormatChunkEntry(const TChunkEntry& entry);

// Reads an index from a file one entry at a time, checking every bound as it goes: memory stays small
// whatever the index claims.
class TChunkIndexReader {
public:
    // Reads and checks the header; raises EChunkIndexError (or the source's read errors). The source
    // stays its owner's and is read from its current position, which is the index's first byte.
    explicit TChunkIndexReader(TStream& source);
    const TChunkIndexHeader& Header() const { return header_; }
    // The next entry; false after the last one, once the sizes are checked to add up to the file and
    // nothing follows. Raises EChunkIndexError.
    bool Next(TChunkEntry& entry);
    // Back to the first entry.
    void Rewind();

private:
    TStream& source_;
    int64_t entriesAt_;
    TChunkIndexHeader header_;
    uint32_t read_ = 0;
    uint64_t sizes_ = 0;
    std::vector<uint8_t> buffer_;
    size_t buffered_ = 0, taken_ = 0;
};

// The largest compressed form a chunk of size bytes may have.
uint32_t MaxCompressedChunkBytes(uint32_t size);
// A chunk's stored form (zstd at the given level). Raises Exception when the library fails.
std::string CompressChunk(const void* data, size_t size, int level);
// Whether compressed is the stored form of exactly the chunk entry names (its size and its id); the
// chunk's bytes go to *out.
bool DecodeChunk(const std::string& compressed, const TChunkEntry& entry, std::string* out);
