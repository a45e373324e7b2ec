// The pieces a large payload is unpacked from on several threads: where its blocks may start, and the
// decoding of one block on its own. A bzip2 stream is "BZh" and a level digit, then blocks that each
// begin with a 48-bit magic at any bit position, then a 48-bit end magic, the combined CRC of the
// blocks and padding to a whole byte.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// The code libbz2's internal-error hook left on this thread (Windows builds), or 0; cleared.
int TakeBZip2InternalError();

namespace bzblocks {

constexpr uint64_t kBlockMagic = 0x314159265359ULL;
constexpr uint64_t kEndMagic = 0x177245385090ULL;

// Where a magic was found, in bits from the start of the stream.
struct TMagic {
    int64_t bit;
    bool end; // the end-of-stream magic rather than a block's
};

// Finds both magics at every bit position of bytes handed over in order. Magics occur by chance
// inside compressed data as well; the decoding sorts those out.
class TMagicScanner {
public:
    // Scans the next bytes of the stream; magics starting at bit 32 or later (after "BZh" and the
    // level) that lie wholly inside the bytes seen so far are appended to found, in order. With last
    // set, these are the stream's final bytes.
    void Scan(const unsigned char* bytes, size_t size, bool last, std::vector<TMagic>& found);

private:
    std::vector<unsigned char> carry_; // the previous bytes' tail, too short to hold a magic yet
    int64_t carryOffset_ = 0;          // stream offset of carry_[0]
};

// Compressed bytes [First(), End()) of a stream, held in shared read-only pieces of kPieceBytes that
// start at multiples of kPieceBytes. Blocks being decoded keep the pieces they read alive.
class TCompressedSpan {
public:
    static constexpr int64_t kPieceBytes = 1 << 20;
    using Piece = std::shared_ptr<const std::vector<unsigned char>>;

    TCompressedSpan() = default;
    TCompressedSpan(int64_t firstPiece, std::vector<Piece> pieces);
    int64_t First() const { return first_ * kPieceBytes; }
    int64_t End() const { return end_; }
    unsigned char At(int64_t offset) const {
        return (*pieces_[static_cast<size_t>(offset / kPieceBytes - first_)])[static_cast<size_t>(
            offset % kPieceBytes)];
    }
    // count bits (at most 57) from the given bit, most significant first.
    uint64_t Bits(int64_t bit, int count) const;
    // The bytes that start at the given bit: out[i] holds the 8 bits from bit + 8 * i.
    void ShiftedBytes(int64_t bit, size_t count, unsigned char* out) const;

private:
    int64_t first_ = 0;
    int64_t end_ = 0;
    std::vector<Piece> pieces_;
};

// One block to decode: its magic's bit, the magics after it (where it may end, in order), the bytes
// it may use and the stream's level digit.
struct TBlockInput {
    int64_t startBit = 0;
    std::vector<int64_t> stops;
    TCompressedSpan bytes;
    char level = '9';
};

enum class TBlockOutcome {
    Complete, // decoded, its CRC right, and the next magic of the stream follows it directly
    Failed,   // not a whole block of this stream (a chance magic, damage, a cut)
    Stopped,  // deliver asked to stop
};

// Decodes the block with libbz2 as the stream's own decoder would meet it: "BZh", the level, then the
// stream's bits from the block's magic on, given one stop at a time. A block whose output starts
// before a stop ends at that stop, because no two magics lie less than 45 bits apart, so until then
// no output is produced from bits the block does not own. Every byte handed to deliver is therefore
// the single decoder's own; a call that reported an error hands nothing. deliver returns false to
// stop. endBit receives the bit where a complete block ends.
TBlockOutcome DecodeBlock(const TBlockInput& input, const std::function<bool(std::vector<char>&&)>& deliver,
                          int64_t& endBit);

} // namespace bzblocks
