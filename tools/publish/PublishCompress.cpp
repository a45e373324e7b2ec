#include "tools/publish/PublishCompress.h"

#include "support/BZip2Memory.h"

#include <bzlib.h>

#include <algorithm>

namespace publish {

namespace {

const uint64_t kEndMagic = 0x177245385090ULL; // end of stream, 48 bits
const char kHeader[] = "BZh9";

struct CompressRecord {
    bz_stream record{};
    CompressRecord() {
        bzmemory::UseThreadCache(record);
        int result = BZ2_bzCompressInit(&record, 9, 0, 0);
        if (result != BZ_OK) throw EBZCompressionError("error " + std::to_string(result));
    }
    ~CompressRecord() { BZ2_bzCompressEnd(&record); }
};

uint64_t BitsAt(const std::string& bytes, uint64_t bit, int count) {
    uint64_t value = 0;
    for (int i = 0; i < count; ++i, ++bit) {
        unsigned char byte = static_cast<unsigned char>(bytes[bit / 8]);
        value = (value << 1) | ((byte >> (7 - bit % 8)) & 1);
    }
    return value;
}

} // namespace

std::string CompressBytes(const char* data, size_t size) {
    CompressRecord compressor;
    bz_stream& record = compressor.record;
    std::string out(size + size / 100 + 1024, '\0');
    record.next_in = const_cast<char*>(data);
    record.avail_in = static_cast<unsigned>(size);
    size_t produced = 0;
    for (;;) {
        record.next_out = &out[produced];
        record.avail_out = static_cast<unsigned>(out.size() - produced);
        int result = BZ2_bzCompress(&record, BZ_FINISH);
        produced = out.size() - record.avail_out;
        if (result == BZ_STREAM_END) break;
        if (result != BZ_FINISH_OK) throw EBZCompressionError("error " + std::to_string(result));
        if (record.avail_out == 0) out.resize(out.size() * 2);
    }
    out.resize(produced);
    return out;
}

std::vector<std::string> CompressPiece(const char* data, size_t size) {
    std::string stream = CompressBytes(data, size);
    uint32_t crc;
    uint64_t end;
    if (size == 0 || FindSingleBlock(stream, crc, end)) return {stream};
    std::vector<std::string> halves = CompressPiece(data, size / 2);
    for (std::string& part : CompressPiece(data + size / 2, size - size / 2)) halves.push_back(std::move(part));
    return halves;
}

bool FindSingleBlock(const std::string& stream, uint32_t& blockCrc, uint64_t& blockEndBit) {
    // "BZh9", the 48-bit block magic, the block CRC, ... , the 48-bit end magic, the combined CRC and
    // up to seven zero bits of padding. With one block the combined CRC equals the block CRC.
    if (stream.size() < 4 + 6 + 4 + 10 || stream.compare(0, 4, kHeader) != 0) return false;
    if (BitsAt(stream, 32, 48) != 0x314159265359ULL) return false;
    blockCrc = static_cast<uint32_t>(BitsAt(stream, 80, 32));
    const uint64_t total = uint64_t(stream.size()) * 8;
    for (int pad = 0; pad < 8; ++pad) {
        uint64_t end = total - pad - 80;
        if (BitsAt(stream, total - pad, pad) == 0 && BitsAt(stream, end, 48) == kEndMagic &&
            BitsAt(stream, end + 48, 32) == blockCrc) {
            blockEndBit = end;
            return true;
        }
    }
    return false;
}

TBZBlockJoiner::TBZBlockJoiner(TStream& target) : target_(target) { pending_.append(kHeader, 4); }

void TBZBlockJoiner::Add(const std::string& stream) {
    uint32_t crc;
    uint64_t end;
    if (!FindSingleBlock(stream, crc, end)) throw EBZCompressionError("error " + std::to_string(BZ_DATA_ERROR));
    combinedCrc_ = ((combinedCrc_ << 1) | (combinedCrc_ >> 31)) ^ crc;
    // The block starts right after the byte-aligned header; copy whole bytes, then the odd bits.
    const uint64_t lastByte = end / 8;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(stream.data());
    if (accumulated_ == 0) {
        pending_.append(stream, 4, lastByte - 4);
    } else {
        for (uint64_t i = 4; i < lastByte; ++i) PutBits(bytes[i], 8);
    }
    if (end % 8) PutBits(bytes[lastByte] >> (8 - end % 8), static_cast<int>(end % 8));
    if (pending_.size() >= (1u << 20)) Flush();
}

int64_t TBZBlockJoiner::Finish() {
    PutBits(static_cast<uint32_t>(kEndMagic >> 24), 24);
    PutBits(static_cast<uint32_t>(kEndMagic & 0xFFFFFF), 24);
    PutBits(combinedCrc_, 32);
    if (accumulated_ > 0) PutBits(0, 8 - accumulated_);
    Flush();
    return written_;
}

void TBZBlockJoiner::PutBits(uint32_t bits, int count) {
    accumulator_ = (accumulator_ << count) | (count == 32 ? bits : bits & ((1u << count) - 1));
    accumulated_ += count;
    while (accumulated_ >= 8) {
        accumulated_ -= 8;
        pending_ += static_cast<char>((accumulator_ >> accumulated_) & 0xFF);
    }
}

void TBZBlockJoiner::Flush() {
    for (size_t at = 0; at < pending_.size();) {
        int32_t piece = static_cast<int32_t>(std::min<size_t>(pending_.size() - at, 1 << 24));
        target_.WriteBuffer(pending_.data() + at, piece);
        at += piece;
    }
    written_ += static_cast<int64_t>(pending_.size());
    pending_.clear();
}

} // namespace publish
