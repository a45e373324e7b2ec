// The chunk index reader on arbitrary bytes: no crash, no hang, no large allocation; an index it
// accepts adds up to the file it announces, and reads the same after a rewind.
#include "support/ChunkIndex.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// The index as a launcher holds it after a download: bytes read from a stream.
class TBytesStream : public TStream {
public:
    TBytesStream(const uint8_t* data, size_t size) : data_(data), size_(static_cast<int64_t>(size)) {}
    int32_t Read(void* buffer, int32_t count) override {
        const int64_t got = std::max<int64_t>(0, std::min<int64_t>(count, size_ - position_));
        if (got > 0) std::memcpy(buffer, data_ + position_, static_cast<size_t>(got));
        position_ += got;
        return static_cast<int32_t>(got);
    }
    int32_t Write(const void*, int32_t) override { return 0; }
    int32_t Seek(int32_t offset, TSeekOrigin origin) override { return static_cast<int32_t>(Seek64(offset, origin)); }
    int64_t Seek64(int64_t offset, TSeekOrigin origin) override {
        const int64_t from =
            origin == TSeekOrigin::soBeginning ? 0 : origin == TSeekOrigin::soCurrent ? position_ : size_;
        position_ = std::max<int64_t>(0, from + offset);
        return position_;
    }

private:
    const uint8_t* data_;
    int64_t size_;
    int64_t position_ = 0;
};

// Every entry until the reader says the index is done.
std::vector<TChunkEntry> ReadAll(TChunkIndexReader& reader) {
    std::vector<TChunkEntry> entries;
    uint64_t total = 0;
    for (TChunkEntry entry; reader.Next(entry);) {
        if (entry.size == 0 || entry.size > reader.Header().params.maxSize) __builtin_trap();
        if (entry.compressedSize == 0 || entry.compressedSize > MaxCompressedChunkBytes(entry.size)) __builtin_trap();
        total += entry.size;
        entries.push_back(entry);
    }
    if (total != reader.Header().fileSize || entries.size() != reader.Header().chunkCount) __builtin_trap();
    return entries;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TBytesStream source(data, size);
    try {
        TChunkIndexReader reader(source);
        if (!ValidChunkParams(reader.Header().params)) __builtin_trap();
        const std::vector<TChunkEntry> first = ReadAll(reader);
        reader.Rewind();
        const std::vector<TChunkEntry> second = ReadAll(reader);
        if (first.size() != second.size()) __builtin_trap();
        for (size_t i = 0; i < first.size(); ++i)
            if (first[i].id != second[i].id || first[i].size != second[i].size) __builtin_trap();
    } catch (const EChunkIndexError&) {
        // refused as an index a launcher cannot use
    }
    return 0;
}
