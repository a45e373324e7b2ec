// bzip2 compression of payloads. Large files are cut into pieces that fit one bzip2 block each, the
// pieces are compressed on every core at once, and their blocks are joined into one ordinary bzip2
// stream: the launcher's unpacker, and any bzip2 tool, reads the payload as a single stream.
#pragma once

#include "support/BZip2.h"
#include "support/Stream.h"

#include <cstdint>
#include <string>
#include <vector>

namespace publish {

// Input bytes per piece. A bzip2 block at level 9 holds 899981 bytes after the first run-length
// step; pieces that grow past that (long stretches of four equal bytes) are cut again.
constexpr size_t kPieceSize = 899000;

// Compresses bytes into one complete bzip2 stream at level 9. EBZCompressionError "error %d" when
// the library fails.
std::string CompressBytes(const char* data, size_t size);

// Compresses one piece into streams of exactly one block each (usually one stream; more when the
// piece did not fit one block).
std::vector<std::string> CompressPiece(const char* data, size_t size);

// Where the block of a one-block stream ends and what its CRC is; false for a stream that does not
// hold exactly one block.
bool FindSingleBlock(const std::string& stream, uint32_t& blockCrc, uint64_t& blockEndBit);

// Writes one bzip2 stream made of the blocks of one-block streams, in the order added.
class TBZBlockJoiner {
public:
    explicit TBZBlockJoiner(TStream& target);
    // Appends the block of a one-block stream; EBZCompressionError when it is not one.
    void Add(const std::string& stream);
    // Writes the end of stream (combined CRC) and flushes. Returns the bytes written in total.
    int64_t Finish();

private:
    void PutBits(uint32_t bits, int count);
    void Flush();

    TStream& target_;
    std::string pending_;
    uint64_t accumulator_ = 0;
    int accumulated_ = 0;
    uint32_t combinedCrc_ = 0;
    int64_t written_ = 0;
};

} // namespace publish
