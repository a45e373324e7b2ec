#include "support/Chunker.h"

#include "support/Hex.h"

#include <sodium.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <future>
#include <vector>

namespace {

// 256 fixed pseudo-random words (splitmix64 from a fixed seed): part of the chunk format, never to change.
struct TGear {
    uint64_t table[256];
    TGear() {
        uint64_t state = 0x766e6472636b3031ULL;
        for (uint64_t& word : table) {
            state += 0x9e3779b97f4a7c15ULL;
            uint64_t z = state;
            z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
            z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
            word = z ^ (z >> 31);
        }
    }
};
const TGear kGear;

// A mask of `bits` one-bits spread over the upper 48 bits of the hash, whose lowest bits depend on the
// last few bytes only.
uint64_t SpreadMask(int bits) {
    uint64_t mask = 0;
    for (int i = 0; i < bits; ++i) mask |= uint64_t(1) << (63 - (i * 48) / bits);
    return mask;
}

int Log2(uint32_t value) {
    int log = 0;
    while ((uint32_t(1) << (log + 1)) <= value) ++log;
    return log;
}

} // namespace

bool ValidChunkParams(const TChunkParams& p) {
    return p.minSize >= kLeastChunkBytes && p.minSize <= p.avgSize && p.avgSize <= p.maxSize && p.maxSize <= kMaxChunkBytes &&
           (p.avgSize & (p.avgSize - 1)) == 0;
}

size_t ChunkLength(const uint8_t* data, size_t size, const TChunkParams& params) {
    const size_t end = size < params.maxSize ? size : params.maxSize;
    if (end <= params.minSize) return end;
    // Normalised chunking: a harder condition before the average size, an easier one after it, so
    // chunk sizes gather round the average.
    const int bits = Log2(params.avgSize);
    const uint64_t hard = SpreadMask(bits + 2), easy = SpreadMask(bits - 2 > 1 ? bits - 2 : 1);
    const size_t normal = params.avgSize < end ? params.avgSize : end;
    uint64_t hash = 0;
    size_t i = params.minSize;
    for (; i < normal; ++i) {
        hash = (hash << 1) + kGear.table[data[i]];
        if ((hash & hard) == 0) return i + 1;
    }
    for (; i < end; ++i) {
        hash = (hash << 1) + kGear.table[data[i]];
        if ((hash & easy) == 0) return i + 1;
    }
    return end;
}

TChunkId ChunkIdOf(const void* data, size_t size) {
    static const bool ready = sodium_init() >= 0; // picks the fastest code the processor has
    (void)ready;
    TChunkId id{};
    crypto_generichash(id.data(), id.size(), static_cast<const unsigned char*>(data), size, nullptr, 0);
    return id;
}

size_t TChunkIdHash::operator()(const TChunkId& id) const {
    static const std::array<unsigned char, crypto_shorthash_KEYBYTES> key = [] {
        std::array<unsigned char, crypto_shorthash_KEYBYTES> chosen{};
        if (sodium_init() >= 0) randombytes_buf(chosen.data(), chosen.size());
        return chosen;
    }();
    unsigned char hash[crypto_shorthash_BYTES];
    crypto_shorthash(hash, id.data(), id.size(), key.data());
    size_t value = 0;
    std::memcpy(&value, hash, sizeof value < sizeof hash ? sizeof value : sizeof hash);
    return value;
}

std::string ChunkIdToHex(const TChunkId& id) { return ToHex(id.data(), id.size()); }

void ChunkFile(platform::File& file, const TChunkParams& params, unsigned threads, const TOnChunk& onChunk) {
    // Bytes are read in blocks of several maximum chunks; the chunks of a block are cut in order, then
    // named on all threads at once; the unfinished tail moves to the front for the next block.
    const size_t block = std::max<size_t>(size_t(params.maxSize) * 4, size_t(8) << 20);
    std::vector<uint8_t> buffer(block);
    size_t filled = 0;
    uint64_t offset = 0;
    bool atEnd = false;
    if (threads == 0) threads = 1;
    while (!atEnd || filled > 0) {
        while (!atEnd && filled < buffer.size()) {
            const size_t got = file.Read(buffer.data() + filled, buffer.size() - filled);
            if (got == 0) atEnd = true;
            filled += got;
        }
        struct TCut {
            size_t start;
            uint32_t size;
            TChunkId id;
        };
        std::vector<TCut> cuts;
        size_t at = 0;
        while (at < filled && (atEnd || filled - at >= params.maxSize)) {
            const size_t length = ChunkLength(buffer.data() + at, filled - at, params);
            cuts.push_back({at, static_cast<uint32_t>(length), {}});
            at += length;
        }
        const auto name = [&](size_t first, size_t step) {
            for (size_t k = first; k < cuts.size(); k += step)
                cuts[k].id = ChunkIdOf(buffer.data() + cuts[k].start, cuts[k].size);
        };
        const size_t workers = std::max<size_t>(1, std::min<size_t>(threads, cuts.size()));
        std::vector<std::future<void>> helpers;
        for (size_t t = 1; t < workers; ++t) helpers.push_back(std::async(std::launch::async, name, t, workers));
        name(0, workers);
        for (auto& helper : helpers) helper.get();
        for (const TCut& cut : cuts) {
            onChunk(offset, cut.size, cut.id, buffer.data() + cut.start);
            offset += cut.size;
        }
        std::copy(buffer.begin() + static_cast<std::ptrdiff_t>(at), buffer.begin() + static_cast<std::ptrdiff_t>(filled),
                  buffer.begin());
        filled -= at;
    }
}
