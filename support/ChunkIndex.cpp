#include "support/ChunkIndex.h"


#include <zstd.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr char kMagic[8] = {'V', 'A', 'N', 'D', 'R', 'C', 'I', 'X'};
constexpr uint32_t kVersion = 1, kBlake2b256 = 1, kZstd = 1;

void Put32(std::string& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}
void Put64(std::string& out, uint64_t value) {
    for (int i = 0; i < 8; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}
uint32_t Get32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint64_t Get64(const uint8_t* p) { return uint64_t(Get32(p)) | uint64_t(Get32(p + 4)) << 32; }

// Reads exactly count bytes; false at the end of the source.
bool ReadExactly(TStream& source, uint8_t* into, size_t count) {
    for (int32_t got; count > 0; into += got, count -= static_cast<size_t>(got))
        if ((got = source.Read(into, static_cast<int32_t>(std::min<size_t>(count, 1 << 20)))) <= 0) return false;
    return true;
}

} // namespace

std::string FormatChunkIndexHeader(const TChunkIndexHeader& header) {
    std::string out(kMagic, sizeof kMagic);
    for (uint32_t value : {kVersion, kBlake2b256, kZstd, header.params.minSize, header.params.avgSize,
                           header.params.maxSize})
        Put32(out, value);
    Put64(out, header.fileSize);
    out.append(reinterpret_cast<const char*>(header.md5.v), sizeof header.md5.v);
    Put32(out, header.chunkCount);
    Put32(out, 0);
    return out;
}

std::string FormatChunkEntry(const TChunkEntry& entry) {
    std::string out(reinterpret_cast<const char*>(entry.id.data()), entry.id.size());
    Put32(out, entry.size);
    Put32(out, entry.compressedSize);
    return out;
}

TChunkIndexReader::TChunkIndexReader(TStream& source) : source_(source), buffer_(kChunkIndexEntryBytes * 1024) {
    uint8_t raw[kChunkIndexHeaderBytes];
    if (!ReadExactly(source_, raw, sizeof raw)) throw EChunkIndexError("shorter than its header");
    entriesAt_ = source_.Position();
    if (std::memcmp(raw, kMagic, sizeof kMagic) != 0) throw EChunkIndexError("no chunk index");
    if (Get32(raw + 8) != kVersion) throw EChunkIndexError("a version this launcher does not know");
    if (Get32(raw + 12) != kBlake2b256 || Get32(raw + 16) != kZstd)
        throw EChunkIndexError("a hash or a compression this launcher does not know");
    header_.params = {Get32(raw + 20), Get32(raw + 24), Get32(raw + 28)};
    header_.fileSize = Get64(raw + 32);
    std::memcpy(header_.md5.v, raw + 40, sizeof header_.md5.v);
    header_.chunkCount = Get32(raw + 56);
    if (!ValidChunkParams(header_.params)) throw EChunkIndexError("chunk sizes out of bounds");
    // Every chunk but the last has at least the minimum size and none more than the maximum.
    const uint64_t most = header_.fileSize / header_.params.minSize + 1;
    const uint64_t least = (header_.fileSize + header_.params.maxSize - 1) / header_.params.maxSize;
    if (header_.chunkCount > kMaxIndexedChunks || header_.chunkCount > most || header_.chunkCount < least ||
        (header_.chunkCount == 0) != (header_.fileSize == 0) || Get32(raw + 60) != 0)
        throw EChunkIndexError("a chunk count that does not fit the file");
}

void TChunkIndexReader::Rewind() {
    source_.SetPosition(entriesAt_);
    read_ = 0;
    sizes_ = 0;
    buffered_ = taken_ = 0;
}

bool TChunkIndexReader::Next(TChunkEntry& entry) {
    if (read_ == header_.chunkCount) {
        uint8_t extra;
        if (sizes_ != header_.fileSize) throw EChunkIndexError("chunks that do not add up to the file");
        if (taken_ < buffered_ || source_.Read(&extra, 1) != 0) throw EChunkIndexError("bytes after its last chunk");
        return false;
    }
    if (taken_ == buffered_) {
        const size_t want = std::min<size_t>(buffer_.size(), size_t(header_.chunkCount - read_) * kChunkIndexEntryBytes);
        if (!ReadExactly(source_, buffer_.data(), want)) throw EChunkIndexError("fewer chunks than it announces");
        buffered_ = want;
        taken_ = 0;
    }
    const uint8_t* raw = buffer_.data() + taken_;
    taken_ += kChunkIndexEntryBytes;
    std::memcpy(entry.id.data(), raw, entry.id.size());
    entry.size = Get32(raw + 32);
    entry.compressedSize = Get32(raw + 36);
    ++read_;
    const bool last = read_ == header_.chunkCount;
    if (entry.size == 0 || entry.size > header_.params.maxSize || (!last && entry.size < header_.params.minSize) ||
        entry.compressedSize == 0 || entry.compressedSize > MaxCompressedChunkBytes(entry.size))
        throw EChunkIndexError("a chunk size out of bounds");
    sizes_ += entry.size;
    if (sizes_ > header_.fileSize) throw EChunkIndexError("chunks that do not add up to the file");
    return true;
}

uint32_t MaxCompressedChunkBytes(uint32_t size) { return static_cast<uint32_t>(ZSTD_compressBound(size)); }

std::string CompressChunk(const void* data, size_t size, int level) {
    std::string out(ZSTD_compressBound(size), '\0');
    const size_t written = ZSTD_compress(&out[0], out.size(), data, size, level);
    if (ZSTD_isError(written)) throw Exception(std::string("Chunk compression failed: ") + ZSTD_getErrorName(written));
    out.resize(written);
    return out;
}

bool DecodeChunk(const std::string& compressed, const TChunkEntry& entry, std::string* out) {
    // The frame must announce exactly the chunk's size, and deliver it: nothing larger is ever made.
    if (compressed.size() != entry.compressedSize ||
        ZSTD_getFrameContentSize(compressed.data(), compressed.size()) != entry.size)
        return false;
    out->assign(entry.size, '\0');
    const size_t got = ZSTD_decompress(&(*out)[0], out->size(), compressed.data(), compressed.size());
    return !ZSTD_isError(got) && got == entry.size && ChunkIdOf(out->data(), out->size()) == entry.id;
}
