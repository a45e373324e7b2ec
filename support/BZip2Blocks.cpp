#include "support/BZip2Blocks.h"

#include "support/BZip2Memory.h"

#include <bzlib.h>

#include <algorithm>
#include <cstring>

namespace bzblocks {

namespace {

constexpr uint64_t kMagicMask = (1ULL << 48) - 1;

// For the two bytes that follow a byte position, the (magic, shift) pairs they fit: bit 8 * end +
// shift. Both bytes lie inside a magic that starts 0 to 7 bits into the position, so all but a
// handful of positions are ruled out by one look-up.
struct TFitTable {
    uint16_t fits[1 << 16] = {};
    TFitTable() {
        for (int end = 0; end < 2; ++end)
            for (int shift = 0; shift < 8; ++shift) {
                uint64_t word = (end ? kEndMagic : kBlockMagic) << (16 - shift);
                fits[(word >> 40) & 0xFFFF] |= static_cast<uint16_t>(1u << (8 * end + shift));
            }
    }
};

const TFitTable& Fits() {
    static const TFitTable table;
    return table;
}

uint64_t BigEndian64(const unsigned char* bytes) {
    uint64_t word = 0;
    for (int i = 0; i < 8; ++i) word = (word << 8) | bytes[i];
    return word;
}

} // namespace

void TMagicScanner::Scan(const unsigned char* bytes, size_t size, bool last, std::vector<TMagic>& found) {
    std::vector<unsigned char> data(carry_);
    data.insert(data.end(), bytes, bytes + size);
    const int64_t base = carryOffset_;
    const int64_t endBit = (base + static_cast<int64_t>(data.size())) * 8;
    const TFitTable& table = Fits();
    // Positions with eight bytes ahead are scanned now; the last seven wait for the next bytes
    // unless the stream ends here (then they are read as if zero bytes followed).
    const size_t whole = data.size() >= 8 ? data.size() - 7 : 0;
    const size_t scanned = last ? data.size() : whole;
    data.resize(data.size() + 8, 0);
    for (size_t i = 0; i < scanned; ++i) {
        const uint16_t fit = table.fits[(data[i + 1] << 8) | data[i + 2]];
        if (fit == 0) continue;
        const uint64_t word = BigEndian64(&data[i]);
        for (int shift = 0; shift < 8; ++shift) {
            const uint64_t bits = (word >> (16 - shift)) & kMagicMask;
            const int64_t bit = (base + static_cast<int64_t>(i)) * 8 + shift;
            if (bit < 32 || bit + 48 > endBit) continue;
            if ((fit >> shift) & 1 && bits == kBlockMagic) found.push_back({bit, false});
            if ((fit >> (8 + shift)) & 1 && bits == kEndMagic) found.push_back({bit, true});
        }
    }
    data.resize(data.size() - 8);
    carry_.assign(data.begin() + static_cast<std::ptrdiff_t>(scanned), data.end());
    carryOffset_ = base + static_cast<int64_t>(scanned);
}

TCompressedSpan::TCompressedSpan(int64_t firstPiece, std::vector<Piece> pieces)
    : first_(firstPiece), pieces_(std::move(pieces)) {
    end_ = (first_ + static_cast<int64_t>(pieces_.size())) * kPieceBytes;
    if (!pieces_.empty()) end_ -= kPieceBytes - static_cast<int64_t>(pieces_.back()->size());
}

uint64_t TCompressedSpan::Bits(int64_t bit, int count) const {
    uint64_t value = 0;
    for (int64_t byte = bit / 8; byte <= (bit + count - 1) / 8; ++byte) value = (value << 8) | At(byte);
    const int64_t spare = ((bit + count + 7) / 8) * 8 - (bit + count);
    return (value >> spare) & ((1ULL << count) - 1);
}

void TCompressedSpan::ShiftedBytes(int64_t bit, size_t count, unsigned char* out) const {
    const int64_t byte = bit / 8;
    const int shift = static_cast<int>(bit % 8);
    if (shift == 0) {
        for (size_t i = 0; i < count; ++i) out[i] = At(byte + static_cast<int64_t>(i));
        return;
    }
    unsigned previous = At(byte);
    for (size_t i = 0; i < count; ++i) {
        const int64_t next = byte + static_cast<int64_t>(i) + 1;
        const unsigned current = next < end_ ? At(next) : 0; // past the end only when a cut stream asks
        out[i] = static_cast<unsigned char>((previous << shift) | (current >> (8 - shift)));
        previous = current;
    }
}

namespace {

constexpr size_t kOutputBytes = 128 * 1024; // one hand-over of a block's output
constexpr size_t kFeedBytes = 64 * 1024;    // the stream's bytes given to the library at once
// Fed after a stop: with at most seven bits of the block before them, the library reads a whole
// 48-bit magic from them.
constexpr int64_t kMagicBytesAfterStop = 7;

// libbz2's decompression record, ended whatever happens.
class TDecoder {
public:
    TDecoder() {
        bzmemory::UseThreadCache(record);
        live_ = BZ2_bzDecompressInit(&record, 0, 0) == BZ_OK;
    }
    ~TDecoder() {
        if (live_) BZ2_bzDecompressEnd(&record);
    }
    TDecoder(const TDecoder&) = delete;
    TDecoder& operator=(const TDecoder&) = delete;
    bool Live() const { return live_; }
    // One decompression step; false on any error the library reports.
    bool Step() {
        int result = BZ2_bzDecompress(&record);
        return result == BZ_OK && TakeBZip2InternalError() == 0;
    }

    bz_stream record{};

private:
    bool live_ = false;
};

// The one-block stream the library reads: "BZh", the level, then the stream's bits from the block's
// magic on, made on demand up to a limit that only grows.
class TFeeder {
public:
    TFeeder(const TBlockInput& input) : input_(input), buffer_(kFeedBytes) {}
    // Bytes of the block's bits (after the four header bytes) needed to hold every bit before `bit`.
    int64_t BytesBefore(int64_t bit) const { return (bit - input_.startBit + 7) / 8; }
    // Whether the stream holds the bits of the first `bytes` block bytes.
    bool Holds(int64_t bytes) const { return (input_.startBit + bytes * 8 + 7) / 8 <= input_.bytes.End(); }
    bool Done() const { return made_ >= limit_; }
    void SetLimit(int64_t bytes) { limit_ = bytes; }
    // Points the record at the next bytes up to the limit; the record must have taken the last ones.
    void Feed(bz_stream& record) {
        size_t at = 0;
        if (!headerMade_) {
            const char header[4] = {'B', 'Z', 'h', input_.level};
            std::memcpy(buffer_.data(), header, 4);
            at = 4;
            headerMade_ = true;
        }
        const size_t count =
            static_cast<size_t>(std::min<int64_t>(limit_ - made_, static_cast<int64_t>(kFeedBytes - at)));
        input_.bytes.ShiftedBytes(input_.startBit + made_ * 8, count,
                                  reinterpret_cast<unsigned char*>(buffer_.data()) + at);
        made_ += static_cast<int64_t>(count);
        record.next_in = buffer_.data();
        record.avail_in = static_cast<unsigned>(at + count);
    }

private:
    const TBlockInput& input_;
    std::vector<char> buffer_;
    bool headerMade_ = false;
    int64_t made_ = 0;
    int64_t limit_ = 0;
};

} // namespace

TBlockOutcome DecodeBlock(const TBlockInput& input, const std::function<bool(std::vector<char>&&)>& deliver,
                          int64_t& endBit) {
    TDecoder decoder;
    if (!decoder.Live()) return TBlockOutcome::Failed;
    bz_stream& record = decoder.record;
    TFeeder feeder(input);
    // Gives the library the bits up to a limit, if the stream holds them.
    auto feedUpTo = [&](int64_t bytes) {
        if (!feeder.Holds(bytes)) return false;
        feeder.SetLimit(bytes);
        return true;
    };
    size_t stop = 0;
    if (input.stops.empty() || !feedUpTo(feeder.BytesBefore(input.stops[0]))) return TBlockOutcome::Failed;
    std::vector<char> output(kOutputBytes);
    size_t used = 0;
    bool started = false; // the library has read the whole block and is writing its output
    for (;;) {
        if (record.avail_in == 0 && !feeder.Done()) feeder.Feed(record);
        record.next_out = output.data() + used;
        record.avail_out = static_cast<unsigned>(output.size() - used);
        if (!decoder.Step()) return TBlockOutcome::Failed;
        const size_t now = output.size() - record.avail_out;
        started = started || now > used;
        used = now;
        if (used == output.size()) {
            if (!deliver(std::move(output))) return TBlockOutcome::Stopped;
            output.assign(kOutputBytes, 0);
            used = 0;
            continue;
        }
        // Room left for output: the library waits for input. Anything else would loop for ever.
        if (record.avail_in != 0) return TBlockOutcome::Failed;
        if (!feeder.Done()) continue;
        if (started) break; // output complete, its CRC right: the block ends at this stop
        // The block goes on past this stop: the magic there was one by chance.
        if (++stop == input.stops.size() || !feedUpTo(feeder.BytesBefore(input.stops[stop])))
            return TBlockOutcome::Failed;
    }
    // The library reads the next 48 bits as a magic and refuses anything else, which proves that the
    // block ended at the stop and not a few bits before or after it.
    if (!feedUpTo(feeder.BytesBefore(input.stops[stop]) + kMagicBytesAfterStop)) return TBlockOutcome::Failed;
    feeder.Feed(record);
    record.next_out = output.data() + used;
    record.avail_out = static_cast<unsigned>(output.size() - used);
    if (!decoder.Step() || output.size() - record.avail_out != used || record.avail_in != 0)
        return TBlockOutcome::Failed;
    output.resize(used);
    if (used > 0 && !deliver(std::move(output))) return TBlockOutcome::Stopped;
    endBit = input.stops[stop];
    return TBlockOutcome::Complete;
}

} // namespace bzblocks
